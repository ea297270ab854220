// Conversion throughput: a folder of PDF files imported through pdfslave (files per
// second), and the XML tree built, printed and freed for a large document.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "import/importctrl.h"
#include "import/parsers.h"
#include "tests/common/pdfmaker.h"
#include "tests/common/tempdir.h"
#include "xmltree.h"

namespace {

std::string makePdf(int n) {
    return testing_support::onePagePdf("BT /F1 12 Tf 72 720 Td (Report number " +
                                       std::to_string(n) +
                                       " on the quarterly harvest of the orchard) Tj ET");
}

void BM_PdfFolderImport(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    testing_support::TempDir dir;
    std::vector<std::string> inputs;
    for (int i = 0; i < files; ++i) {
        inputs.push_back(dir.file("doc" + std::to_string(i) + ".pdf"));
        testing_support::writeWholeFile(inputs.back(), makePdf(i));
    }
    imexInit();
    ImportContext* context = imexCreate();
    ImportArgs args;
    args.inputs = inputs;
    args.tempDirectory = dir.file("tmp");
    args.outputFilename = dir.file("out.idx");
    for (auto _ : state) {
        std::remove(args.outputFilename.c_str());
        int ok = imexImport(context, &args, nullptr);
        if (ok != files) state.SkipWithError("a conversion failed");
    }
    state.SetItemsProcessed(state.iterations() * files);
    imexDestroy(context);
}
BENCHMARK(BM_PdfFolderImport)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_XmlTreeBuildPrintFree(benchmark::State& state) {
    testing_support::TempDir dir;
    std::string xml = "<catalog>";
    for (int i = 0; i < state.range(0); ++i)
        xml += "<item id=\"" + std::to_string(i) + "\"><title>Item " + std::to_string(i) +
               "</title>\n  <body>Some words about the item.</body></item>\n";
    xml += "</catalog>";
    std::string file = dir.file("big.xml");
    testing_support::writeWholeFile(file, xml);
    for (auto _ : state) {
        XmlNode* root = nullptr;
        xmlMakeTree(&root, file.c_str());
        char* text = xmlPrintNodetoString(root, 1, 1, nullptr);
        benchmark::DoNotOptimize(text);
        memFree(text);
        xmlDestroyTree(root);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(xml.size()));
}
BENCHMARK(BM_XmlTreeBuildPrintFree)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
