// Import arguments: setter refusals and the settings loader.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>

#include "imex.h"
#include "import/importargs.h"
#include "import/importlog.h"
#include "support/envcfgutil.h"
#include "tests/common/tempdir.h"

namespace {

struct ArgsPtr {
    ImportArgs* p = imargsCreate();
    ~ArgsPtr() { imargsDestroy(p); }
    ImportArgs* operator->() const { return p; }
};

struct Config {
    ConfigFile* cfg = nullptr;
    explicit Config(const std::string& text) {
        EXPECT_EQ(envCfgLoadFromMemory(&cfg, text.data(), static_cast<int32_t>(text.size()),
                                       nullptr, ENVCFG_OWNED),
                  0);
    }
    ~Config() { envCfgClose(&cfg); }
};

TEST(ImportArgsSetters, RefuseWhatTheyCannotHold) {
    ArgsPtr a;
    EXPECT_EQ(imargsSetStoreContents(a.p, "Yes"), -1);
    EXPECT_EQ(imargsSetStoreContents(a.p, "no"), 0);
    EXPECT_EQ(a->storeContent, "no");
    EXPECT_EQ(imargsSetStoreContents(a.p, "yes"), 0);

    EXPECT_EQ(imargsSetContentBreaking(a.p, 160, 360, 100), -1);
    EXPECT_EQ(imargsSetContentBreaking(a.p, 360, 160, 600), -1);
    EXPECT_FALSE(a->breaking.has_value());
    EXPECT_EQ(imargsSetContentBreaking(a.p, 160, 360, 600), 0);

    EXPECT_EQ(imargsSetContentCriteria(a.p, 10, 10, 0, 5), -1);
    EXPECT_EQ(imargsSetContentCriteria(a.p, 0, 10, 5, 5), -1);
    EXPECT_EQ(imargsSetContentCriteria(a.p, 0, 10, 0, 5), 0);

    EXPECT_EQ(imargsSetUpBinaryFilter(a.p, 0, 175, 3, 25), -1);  // filter off
    EXPECT_EQ(imargsFilterBinary(a.p, 1), 0);
    EXPECT_EQ(imargsSetUpBinaryFilter(a.p, 0, 175, 3, 25), 0);

    EXPECT_EQ(imargsSetTitleStartSkipWords(a.p, 0), -1);
    EXPECT_EQ(imargsSetSlaveTimeout(a.p, 0), -1);
    EXPECT_EQ(a->slaveTimeout, 60);
    EXPECT_EQ(imargsSetIxoType(a.p, ""), -1);
    EXPECT_EQ(imargsSetGenericSlave(a.p, ""), -1);
    EXPECT_EQ(imargsSetPathMapping(a.p, 0, "x"), -1);
    EXPECT_EQ(imargsSetMaxAnchors(a.p, 100000), 0);
    EXPECT_EQ(a->maxAnchors, 2048);

    const char* names[] = {"a", nullptr};
    EXPECT_EQ(imargsSetInputs(a.p, 0, names), -1);
    EXPECT_EQ(imargsSetInputs(a.p, 2, names), -1);  // a null entry
    EXPECT_EQ(imargsSetInputs(a.p, 1, names), 0);
    EXPECT_EQ(imargsAddInputs(a.p, 1, names), 0);
    EXPECT_EQ(imargsGetNumberInputs(a.p), 2);

    EXPECT_EQ(imargsAddHTMLTurnToSpaceSettingsToPageLayout(a.p, 1, names, names, 0), -1);
    const char* tags[] = {"script"};
    EXPECT_EQ(imargsTagStripping(a.p, 1, tags), 0);
    EXPECT_EQ(a->tagStrip.at(0), "<script");

    // Null records are refused everywhere, not dereferenced.
    EXPECT_EQ(imargsSetStoreContents(nullptr, "yes"), -1);
    EXPECT_EQ(imargsSetOutputFilename(nullptr, "x"), -1);
    EXPECT_EQ(imargsSetChecksum(nullptr, 1), -1);
    EXPECT_EQ(imargsGetNumberInputs(nullptr), 0);
    imargsDestroy(nullptr);
}

TEST(ImportArgsSetters, NullRestoresDefaultNames) {
    ArgsPtr a;
    EXPECT_STREQ(imargsGetOutputFilename(a.p), "default.idx");
    EXPECT_STREQ(imargsGetOutputDatabase(a.p), "default");
    // Temporary files never go to the working folder unless asked: without a folder of
    // the caller's, they go to a private one (mode 0700) under the system's.
    const std::string temp = imargsGetTempDirectory(a.p);
    EXPECT_NE(temp, "./");
    EXPECT_EQ(std::filesystem::status(temp).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_EQ(imargsSetOutputFilename(a.p, "x.idx"), 0);
    EXPECT_EQ(imargsSetOutputDatabase(a.p, "Db"), 0);
    EXPECT_STREQ(imargsGetOutputFilename(a.p), "x.idx");
    EXPECT_EQ(imargsSetOutputFilename(a.p, nullptr), 0);
    EXPECT_EQ(imargsSetOutputDatabase(a.p, nullptr), 0);
    EXPECT_STREQ(imargsGetOutputFilename(a.p), "default.idx");
    EXPECT_STREQ(imargsGetOutputDatabase(a.p), "default");
}

TEST(ImportSettingsLoader, EveryKeyReachesTheRecord) {
    testing_support::TempDir dir;
    const std::string log = dir.file("import.log");
    const std::string temp = dir.file("tmp");
    Config c(
        "[S]\nDatabase=Docs\nImportSummary=1\nImportStoreContent=0\n"
        "ImportXMLOutput=1\nImportXMLOutputHeader=<x>\n"
        "ImportMinLength=5\nImportMinLengthWords=2\nImportMaxLength=900\n"
        "ImportMaxLengthWords=90\n"
        "ImportLogfile=" +
        log +
        "\nImportLogLevel=full\nImportLogfileAppend=0\n"
        "ImportChecksum=1\nImportFieldHTMLConvertChars=1\n"
        "ImportBreaking=1\nImportBreakingMinParagraphWords=10\n"
        "ImportBreakingMaxParagraphWords=20\nImportBreakingMinDocWords=30\n"
        "IMPORTADDHTMLANCHORNAMES=0\nImportStripLinks=0\nImportMetaToFields=0\n"
        "ImportTempDir=" +
        temp +
        "\nImportStripTagCSVs=script, style\n"
        "ImportStripStringCSVs=AAA,BBB\nImportIntelligentTitleSummary=1\n"
        "ImportMinTitleChars=7\nImportStartDefCSVs=<body>\nImportEndDefCSVs=</body>\n"
        "ImportStartSkipWords=2\n"
        "HtmlImportTurnToSpaceStartDefCSVs=<a,<b\nHtmlImportTurnToSpaceEndDefCSVs=</a>,</b>\n"
        "ImportDelimitedField=F1,F2\nImportDelimitedStart=<,[\nImportDelimitedEnd=>\n"
        "ImportDelimitedDocStart=BEGIN\nImportDelimitedDocEnd=END\n"
        "ImportXMLField0=IXOTITLE\nImportXMLSearchCSVTags0=doc,title\nImportXMLStripTags0=1\n"
        "ImportExtractDateFrom=1\nImportExtractDateFromField=when\n"
        "ImportExtractDateFormatCSVs=DD/MM/YYYY, YYYY-MM-DD\nImportExtractDateToFormat=YYYY\n"
        "ImportExtractDateToField1=D1\nImportExtractDateFrom1=2\n"
        "ImportMaxPlainTextLengthKBs=12\nImportSlaveTimeout=9\nImportGenericSlave=gen\n"
        "ImportTitleStartSkipWords=3\nImportMaxAnchors=17\nImportExtractLength=1\n"
        "ImportExtractLengthToField=LEN\nImportPathReplaceUpToSlash=2\n"
        "ImportPathReplaceString=http://h/\nImportRefTruncateAfter=1\n"
        "ImportRefTruncateString=?\nImportRenderedHTMLMoveToDir=r\n"
        "ImportRenderedHTMLFieldName=RF\nImportRenderedHTMLExtensions=htm\n"
        "ImportRenderedHTMLPathReplaceUpToSlash=1\nImportRenderedHTMLPathReplaceString=p/\n"
        "ImportExtraIdxDir=extra\nImportExtraIdxDirToReplaceDir=base\n"
        "ImportRecursiveDirectoryImporting=1\nImportFilterBinaryContent=1\n"
        "ImportMinAllowedAsciiCode=9\nImportMaxAllowedAsciiCode=126\n"
        "ImportMaxAverageWordLength=30\nImportMaxBinaryCharsPerHundred=4\n"
        "ImportAttachments=1\nImportSaveAttachments=1\nImportSaveAttachmentDir=att\n"
        "ImportDocumentType=NOTE\nImportDefaultExtension=txt\n"
        "FieldName0=Author\nFieldStart0=\"By \"\nFieldStop0=.\n"
        "HtmlFieldName0=H\nFixedFieldName0=Source\nFixedFieldValue0=disk\n"
        "ImportRemapField0=author\nImportRemapFieldTo0=CREATOR\n"
        "ImportRefReplaceCSVs=a,b\nImportRefReplaceWithCSVs=x,y\n");
    ArgsPtr a;
    const char* inputs[] = {"one", "two"};
    EXPECT_STREQ(imargsLoadFromConfig(c.cfg, "S", 2, inputs, "out.idx", a.p), "Success.");
    EXPECT_EQ(a->database, "Docs");
    EXPECT_EQ(a->summaries, 2);
    EXPECT_EQ(a->storeContent, "no");
    EXPECT_EQ(a->xmlOutput, 1);
    EXPECT_EQ(a->xmlOutputHeader.value_or(""), "<x>");
    ASSERT_TRUE(a->criteria);
    EXPECT_EQ(a->criteria->minLength, 5);
    EXPECT_EQ(a->criteria->maxLength, 900);
    EXPECT_EQ(a->criteria->minWords, 2);
    EXPECT_EQ(a->criteria->maxWords, 90);
    EXPECT_EQ(importLogLevel(), 3);
    EXPECT_EQ(a->checksum, 1);
    EXPECT_EQ(a->fieldHtmlConvert, 1);
    ASSERT_TRUE(a->breaking);
    EXPECT_EQ(a->breaking->lower, 10);
    EXPECT_EQ(a->breaking->upper, 20);
    EXPECT_EQ(a->breaking->document, 30);
    EXPECT_EQ(a->addAnchorNames, 0);
    EXPECT_EQ(a->linkStripping, 0);
    EXPECT_EQ(a->extractMeta, 0);
    EXPECT_EQ(a->tempDirectory, temp);
    EXPECT_TRUE(std::filesystem::is_directory(temp));
    EXPECT_EQ(a->tagStrip, (std::vector<std::string>{"<script", "<style"}));
    EXPECT_EQ(a->stringStrip, (std::vector<std::string>{"AAA", "BBB"}));
    EXPECT_EQ(a->intelligentTitle, 1);
    EXPECT_EQ(a->minTitleChars, 7);
    ASSERT_TRUE(a->pageLayout);
    EXPECT_EQ(a->pageLayout->starts, std::vector<std::string>{"<body>"});
    EXPECT_EQ(a->pageLayout->ends, std::vector<std::string>{"</body>"});
    EXPECT_EQ(a->pageLayout->skipWords, 2);
    EXPECT_EQ(a->pageLayout->turnToSpaceEnds, (std::vector<std::string>{"</a>", "</b>"}));
    ASSERT_TRUE(a->delimited);
    EXPECT_EQ(a->delimited->names, (std::vector<std::string>{"F1", "F2"}));
    EXPECT_EQ(a->delimited->ends, (std::vector<std::string>{">", ">"}));  // last one serves
    EXPECT_EQ(a->delimited->docStart, "BEGIN");
    ASSERT_EQ(a->xmlRules.size(), 1u);
    EXPECT_EQ(a->xmlRules[0].tags, (std::vector<std::string>{"doc", "title"}));
    EXPECT_EQ(a->xmlRules[0].stripTags, 1);
    ASSERT_EQ(a->dateRules.size(), 2u);
    EXPECT_EQ(a->dateRules[0].from, 1);
    EXPECT_EQ(a->dateRules[0].fromField, "when");
    EXPECT_EQ(a->dateRules[0].toField, "IXODATE");
    EXPECT_EQ(a->dateRules[0].formats, (std::vector<std::string>{"DD/MM/YYYY", "YYYY-MM-DD"}));
    EXPECT_EQ(a->dateRules[1].from, 2);
    EXPECT_EQ(a->dateRules[1].toField, "D1");
    EXPECT_EQ(a->maxPlainTextKBs, 12);
    EXPECT_EQ(a->slaveTimeout, 9);
    EXPECT_EQ(a->genericSlave.value_or(""), "gen");
    EXPECT_EQ(a->titleStartSkipWords, 3);
    EXPECT_EQ(a->maxAnchors, 17);
    EXPECT_EQ(a->extractLength, 1);
    EXPECT_EQ(a->extractLengthField, "LEN");
    EXPECT_EQ(a->pathMapCount, 2);
    EXPECT_EQ(a->pathMapPrefix.value_or(""), "http://h/");
    EXPECT_EQ(a->truncateString.value_or(""), "?");
    EXPECT_EQ(a->renderedFieldName.value_or(""), "RF");
    EXPECT_EQ(a->renderedPathPrefix.value_or(""), "p/");
    EXPECT_EQ(a->extraIdxDir.value_or(""), "extra");
    EXPECT_EQ(a->extraIdxDirToReplace.value_or(""), "base");
    EXPECT_EQ(a->recursive, 1);
    EXPECT_EQ(a->filterBinary, 1);
    ASSERT_TRUE(a->binaryFilter);
    EXPECT_EQ(a->binaryFilter->low, 9);
    EXPECT_EQ(a->binaryFilter->high, 126);
    EXPECT_EQ(a->binaryFilter->maxPerHundred, 4);
    EXPECT_EQ(a->binaryFilter->maxAverageWordLength, 30);
    EXPECT_EQ(a->attachmentDir.value_or(""), "att");
    EXPECT_EQ(a->attachmentKeep, 1);
    EXPECT_EQ(a->attachmentImport, 1);
    EXPECT_EQ(a->ixoType.value_or(""), "NOTE");
    EXPECT_EQ(a->defaultExtension.value_or(""), "txt");
    EXPECT_EQ(a->fieldNames, std::vector<std::string>{"Author"});
    EXPECT_EQ(a->fieldStarts, std::vector<std::string>{"By "});
    EXPECT_EQ(a->htmlFieldNames, std::vector<std::string>{"H"});
    EXPECT_EQ(a->fixedValues, std::vector<std::string>{"disk"});
    EXPECT_EQ(a->remapFrom, std::vector<std::string>{"AUTHOR"});
    EXPECT_EQ(a->remapTo, std::vector<std::string>{"CREATOR"});
    EXPECT_EQ(a->refNew, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(a->outputFilename, "out.idx");
    EXPECT_EQ(a->inputs, (std::vector<std::string>{"one", "two"}));
    importLogSetFile(nullptr, 0);
    importLogSetLevel(2);
}

TEST(ImportSettingsLoader, DefaultsFromAnEmptySection) {
    Config c("[S]\n");
    ArgsPtr a;
    EXPECT_STREQ(imargsLoadFromConfig(c.cfg, "S", 0, nullptr, nullptr, a.p), "Success.");
    EXPECT_EQ(a->storeContent, "yes");
    EXPECT_EQ(a->maxAnchors, 2048);
    EXPECT_EQ(a->addAnchorNames, 1);
    EXPECT_EQ(a->minTitleChars, 3);
    ASSERT_TRUE(a->criteria);
    EXPECT_EQ(a->criteria->maxLength, 10000000);
    EXPECT_FALSE(a->breaking);
    EXPECT_EQ(a->filterBinary, 0);
    EXPECT_EQ(a->outputFilename, "default.idx");
    ASSERT_EQ(a->dateRules.size(), 1u);  // rule 0, off
    EXPECT_EQ(a->dateRules[0].from, 0);
}

TEST(ImportSettingsLoader, NumberedKeysStopAtTheFirstGap) {
    Config c(
        "[S]\nFieldName1=B\nFieldStart1=x\nFieldStop1=y\n"
        "FixedFieldName0=A\nFixedFieldValue0=1\nFixedFieldName1=B\nFixedFieldName3=D\n"
        "ImportExtractDateFrom=1\nImportExtractDateToField1=X\nImportExtractDateToField3=Z\n"
        "[DEFAULT]\nImportRemapField0=a\nImportRemapFieldTo0=b\n");
    ArgsPtr a;
    EXPECT_STREQ(imargsLoadFromConfig(c.cfg, "S", 0, nullptr, nullptr, a.p), "Success.");
    EXPECT_TRUE(a->fieldNames.empty());
    EXPECT_EQ(a->fixedNames, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(a->fixedValues, (std::vector<std::string>{"1", ""}));
    EXPECT_EQ(a->dateRules.size(), 2u);
    EXPECT_EQ(a->remapFrom, std::vector<std::string>{"A"});  // from the DEFAULT section
}

TEST(ImportSettingsLoader, RefusedValuesStopTheLoad) {
    {
        Config c("[S]\nImportBreaking=1\nImportBreakingMinDocWords=100\n");
        ArgsPtr a;
        EXPECT_STREQ(imargsLoadFromConfig(c.cfg, "S", 0, nullptr, nullptr, a.p),
                     "Couldn't set breaking parameters.");
    }
    {
        // Without ImportBreaking the limits are not applied at all.
        Config c("[S]\nImportBreakingMinDocWords=100\n");
        ArgsPtr a;
        EXPECT_STREQ(imargsLoadFromConfig(c.cfg, "S", 0, nullptr, nullptr, a.p), "Success.");
    }
    {
        Config c("[S]\n");
        ArgsPtr a;
        const char* inputs[] = {nullptr};
        EXPECT_STREQ(imargsLoadFromConfig(c.cfg, "S", 1, inputs, nullptr, a.p),
                     "Couldn't set input files");
    }
}

}  // namespace
