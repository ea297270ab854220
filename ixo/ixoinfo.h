// Internal side of the information and term requests: the request texts, and the small
// send-and-copy helpers the index requests share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ixo_info.h"

namespace ixo_info {

// Sends request (scrambled as the handle asks) on the port selector, with postData as
// the body when not null, and hands the whole reply back in reply. Returns the code of
// ixoRequestToDynBuffer2; reply is empty on failure.
int32_t sendRequest(IXO* ixo, int32_t portSelector, const std::string& request,
                    const char* postData, std::string& reply);

// Like sendRequest on the query port, answering from the client cache when it holds the
// request and storing a successful reply there.
int32_t sendThroughCache(IXO* ixo, const std::string& request, std::string& reply);

// Copies at most size bytes of reply into buffer and terminates it within size (the
// reply-to-buffer rule). Nothing happens for a null buffer or size below 1.
void copyToBuffer(std::string_view reply, char* buffer, int32_t size);

// "/qmethod=t&querytext=..&idnum=N&xoptions=[tweights][+useurl]".
std::string termsRequest(std::string_view text, int32_t numTerms, int32_t withWeights,
                         int32_t useReferences);

// "/qmethod=Z&querytext=.." or "/qmethod=z&querytext=..&idnum=..", then the options.
std::string summaryRequest(std::string_view text, const char* document, int32_t useReferences,
                           const char* extraOptions);

// "/qmethod=C&querytext=.." or "/qmethod=c&querytext=..".
std::string contentRequest(std::string_view document, int32_t upperMethod);

// Words of a title: maximal runs of ASCII letters and digits.
std::vector<std::string> titleWords(std::string_view title);

// The text with blanks for its line breaks, so that it stays on one line of a request
// body.
std::string oneLine(std::string_view text);

}  // namespace ixo_info
