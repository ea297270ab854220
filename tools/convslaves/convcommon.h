// Shared by the converter programs: the slave loop, running a converter program with
// an argument vector and a time limit, and writing text as a small HTML page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace conv {

// What one run of a converter program gave.
struct RunResult {
    bool started = false;   // the program could be executed
    bool timedOut = false;  // killed at the time limit
    int exitCode = -1;      // exit status, -1 when killed by a signal
    std::string output;     // what it wrote to its standard output (cut at the limit)
    bool ok() const { return started && !timedOut && exitCode == 0; }
};

// Longest standard output kept from one converter run.
inline constexpr size_t kMaxOutput = size_t{256} << 20;

// Runs argv[0] (looked up in PATH) with argv, never through a shell, with standard
// input from /dev/null, standard error discarded and standard output captured. The
// child runs in the C.UTF-8 locale and is killed when this program dies or when
// limitSeconds pass.
RunResult runProgram(const std::vector<std::string>& argv, int32_t limitSeconds);

// The time limit for one converter run: CONVERTER_TIME_LIMIT seconds from the
// environment, else 300. The master's own time-out normally ends a hung job first and
// the converter dies with this program.
int32_t converterTimeLimit();

// UTF-8 to single-byte Latin-1 (characters above 255 become '?'; bytes that are not
// valid UTF-8 are kept as they are).
std::string utf8ToLatin1(const std::string& text);
// &, < and > as references.
std::string escapeHtml(const std::string& text);
// "<html><head><title>T</title></head><body><pre>text</pre></body></html>"; the head
// holds no title element when title is empty.
std::string textToHtml(const std::string& title, const std::string& text);
// The text between the first <tag ...> and </tag> of an XML text, tags inside removed,
// white space folded; empty when there is none.
std::string xmlElementText(const std::string& xml, const std::string& tag);
// All character data of an XML text with the markup removed; elements named in
// breakTags end a line.
std::string xmlToText(const std::string& xml);

bool readFile(const std::string& name, std::string& out, size_t limit = kMaxOutput);
bool writeFile(const std::string& name, const std::string& bytes);

// A conversion: reads input, writes HTML to output; false when the document could not
// be converted (nothing usable is left in output then).
using Converter = bool (*)(const std::string& input, const std::string& output);

// The slave's main loop: opens the channel from argv, converts each job, signals
// "finish" after each, returns when the master goes away. Exit code for main.
int slaveMain(int argc, char** argv, Converter convert);

}  // namespace conv
