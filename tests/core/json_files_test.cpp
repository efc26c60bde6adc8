#include <random>

#include "core/alias.h"
#include "core/omenu.h"
#include "store_fixture.h"

using storetest::StoreTest;

namespace {
const char* const kAlias = "/data/configs/alias.json";
const char* const kMenu = "/data/configs/omenu.json";

const std::string kAliasFile = R"({
  "filename": "/data/configs/alias.json",
  "namelist": {
    "source": [ {"id": "0", "valid": "on", "name": "仓库"},
                {"id": 2, "valid": "off", "name": "机房"},
                {"id": "3", "valid": "on", "name": ""} ],
    "usermode": [ {"id": "0", "valid": "on", "name": "User Mode 1"} ],
    "win": [ {"id": "5", "valid": "on", "name": "Window 6"} ],
    "source": [ {"id": "5", "valid": "on", "name": "Second list"} ]
  }
})";

const std::string kMenuFile = R"({
  "name": "menu", "osdcount": 2, "oactcount": 1,
  "menu": [
    {"type": 0, "status": "on",
     "pos": {"x": 10, "y": 20, "w": 300, "h": 64},
     "act": {"effect": 3, "speed": 2, "staytime": 5},
     "backpara": {"enable": "off", "color": "FF0000"},
     "fontpara": {"startx": 1, "starty": 2, "fontw": 64, "fonth": 64, "wordspace": 3, "verticalspace": 4,
                  "color": "00FF00"},
     "texts": ["Hello\nWorld"]},
    {"type": 1, "status": "off",
     "pos": {"x": 1, "y": 2, "w": 3, "h": 4, "layer": "buttom"},
     "act": {"effect": 0, "speed": 0, "staytime": 0},
     "bmppara": {"start": 7, "end": 9}},
    {"type": 7, "status": "on"},
    {"type": 0, "status": "fourth"}
  ]
})";
}  // namespace

// ---------------------------------------------------------------- alias

TEST_F(StoreTest, AliasEntriesAreFoundByListAndId) {
    testkit::writeFile(kAlias, kAliasFile);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 1);
    EXPECT_EQ(a.name, "仓库");
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 0);  // hidden, but filled
    EXPECT_EQ(a.id, 2);
    EXPECT_EQ(a.valid, "off");
    EXPECT_EQ(a.name, "机房");
    EXPECT_EQ(get_json_alias_para(&a, "source", 3), 0);  // no name
    EXPECT_EQ(get_json_alias_para(&a, "source", 5), 1);  // second member of the same name
    EXPECT_EQ(a.name, "Second list");
    ALIAS_PARA b;
    b.name = "keep";
    EXPECT_EQ(get_json_alias_para(&b, "source", 1), 0);   // only in no list
    EXPECT_EQ(get_json_alias_para(&b, "Source", 0), 0);   // case matters
    EXPECT_EQ(get_json_alias_para(&b, "win", 0), 0);
    EXPECT_EQ(b.name, "keep");
    EXPECT_TRUE(testkit::exists(kAlias));
}

TEST_F(StoreTest, SampleAliasFileReadsBackWithEveryEntryHidden) {
    testkit::writeFile(kAlias, "stale");
    ASSERT_EQ(Json_create(), 0);
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 2), 0);  // ids are written as text, still matched
    EXPECT_EQ(a.id, 2);
    EXPECT_EQ(a.valid, "off");
    EXPECT_EQ(a.name, "机房");
    EXPECT_EQ(get_json_alias_para(&a, "crop", 2), 0);
    EXPECT_EQ(a.name, "Crop 3");
    EXPECT_EQ(get_json_alias_para(&a, "win", 1), 0);
    EXPECT_EQ(a.name, "Window 2");
    EXPECT_EQ(get_json_alias_para(&a, "usermode", 3), 0);
    EXPECT_EQ(a.name, "Window 2");  // no fourth user mode: untouched
}

TEST_F(StoreTest, AliasFileThatDoesNotParseIsRemoved) {
    testkit::writeFile(kAlias, "{\"namelist\": {\"source\": [ {\"id\": 0, ");
    ALIAS_PARA a;
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
    EXPECT_FALSE(testkit::exists(kAlias));
    EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0);
}

TEST_F(StoreTest, AliasFileWithMissingKeysOrWrongTypesAnswersZeroAndStays) {
    const std::string cases[] = {
        R"({"filename": "x"})",
        R"({"namelist": 5})",
        R"({"namelist": {"source": [ {"valid": "on", "name": "n"} ]}})",
        R"({"namelist": {"source": [ {"id": "0", "name": "n"} ]}})",
        R"({"namelist": {"source": [ {"id": "0", "valid": "on"} ]}})",
        R"({"namelist": {"source": [ {"id": "zero", "valid": "on", "name": "n"} ]}})",
        R"({"namelist": {"source": [ {"id": 0.5, "valid": "on", "name": "n"} ]}})",
        R"({"namelist": {"source": [ {"id": {"a": 0}, "valid": "on", "name": "n"} ]}})",
        R"({"namelist": {"source": {"id": "0", "valid": "on", "name": "n"}}})",
        R"({"namelist": {"source": [ {"id": "0", "valid": {"x": 1}, "name": ["n"]} ]}})",
        R"([1, 2, 3])",
    };
    for (const std::string& c : cases) {
        testkit::writeFile(kAlias, c);
        ALIAS_PARA a;
        a.name = "untouched";
        EXPECT_EQ(get_json_alias_para(&a, "source", 0), 0) << c;
        EXPECT_TRUE(testkit::exists(kAlias)) << c;
    }
}

// ---------------------------------------------------------------- menu

TEST_F(StoreTest, MenuFileFillsUpToThreeRecords) {
    testkit::writeFile(kMenu, kMenuFile);
    OSD_LIST l;
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 2);
    EXPECT_EQ(l[0].oact_count, 1);
    EXPECT_EQ(l[0].type, 0);
    EXPECT_EQ(l[0].w, 300);
    EXPECT_EQ(l[0].layer, "");
    EXPECT_EQ(l[0].effect, 3);
    EXPECT_EQ(l[0].back_enable, "off");
    EXPECT_EQ(l[0].fontw, 64);
    EXPECT_EQ(l[0].font_color, "00FF00");
    EXPECT_EQ(l[0].text, "Hello\nWorld");
    EXPECT_EQ(l[1].type, 1);
    EXPECT_EQ(l[1].status, "off");
    EXPECT_EQ(l[1].bmp_end, 9);
    EXPECT_EQ(l[1].layer, "");  // bitmaps read no layer
    EXPECT_EQ(l[2].type, 7);
    EXPECT_EQ(l[2].status, "on");
    EXPECT_EQ(l[2].x, 0);
}

TEST_F(StoreTest, MenuCountZeroOrEmptyMenuShowsNothingAndBitmapKeepsTextFields) {
    OSD_LIST l;
    l[0].osd_count = 1;
    testkit::writeFile(kMenu, R"({"name":"m","osdcount":0,"oactcount":0,"menu":[{"type":0}]})");
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 0);
    // count set but no menu element: nothing to show rather than the old menu
    l[0].osd_count = 1;
    testkit::writeFile(kMenu, R"({"name":"m","osdcount":1,"oactcount":0,"menu":[]})");
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 0);
    // a bitmap menu leaves text, fonts and background as an earlier read left them
    l[0].text = "old";
    l[0].fontw = 32;
    l[0].back_color = "0000FF";
    testkit::writeFile(kMenu, R"({"name":"m","osdcount":1,"oactcount":0,"menu":[{"type":1,"status":"on",
        "pos":{"x":1,"y":1,"w":1,"h":1},"act":{"effect":0,"speed":0,"staytime":0},"bmppara":{"start":0,"end":5}}]})");
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 1);
    EXPECT_EQ(l[0].type, 1);
    EXPECT_EQ(l[0].bmp_end, 5);
    EXPECT_EQ(l[0].text, "old");
    EXPECT_EQ(l[0].fontw, 32);
    EXPECT_EQ(l[0].back_color, "0000FF");
}

TEST_F(StoreTest, MenuCountIsTheRecordsReadAndNoStaleRecordSurvives) {
    testkit::writeFile(kMenu, kMenuFile);
    OSD_LIST l;
    get_json_omenu_para(kMenu, &l);
    ASSERT_EQ(l[1].type, 1);
    ASSERT_EQ(l[2].status, "on");

    // "osdcount" 2 but one element: one record is read, the earlier second and third are gone.
    testkit::writeFile(kMenu, R"({"name":"m","osdcount":2,"oactcount":0,"menu":[{"type":1,"status":"on",
        "pos":{"x":5,"y":6,"w":7,"h":8},"act":{"effect":0,"speed":0,"staytime":0},"bmppara":{"start":0,"end":1}}]})");
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 1);
    EXPECT_EQ(l[0].x, 5);
    for (int k : {1, 2}) {
        EXPECT_EQ(l[k].type, 0) << k;
        EXPECT_EQ(l[k].status, "") << k;
        EXPECT_EQ(l[k].bmp_end, 0) << k;
        EXPECT_EQ(l[k].w, 0) << k;
    }

    // "osdcount" 0: no menu is read and none survives.
    testkit::writeFile(kMenu, R"({"name":"m","osdcount":0,"oactcount":0})");
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 0);
    EXPECT_EQ(l[0].status, "");
    EXPECT_EQ(l[0].x, 0);
}

TEST_F(StoreTest, BrokenWorkingMenuIsRemovedButModeCopyStays) {
    testkit::writeFile(kMenu, "{\"osdcount\": 1, \"menu\": [");
    testkit::writeFile("/data/modes/MO03.json", "{\"osdcount\": 1, \"menu\": [");
    OSD_LIST l;
    l[0].osd_count = 1;
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 0);
    EXPECT_FALSE(testkit::exists(kMenu));
    l[0].osd_count = 1;
    get_json_omenu_para("/data/modes/MO03.json", &l);
    EXPECT_EQ(l[0].osd_count, 0);
    EXPECT_TRUE(testkit::exists("/data/modes/MO03.json"));
}

TEST_F(StoreTest, MenuWithMissingKeyOrWrongTypeShowsNothingAndKeepsFile) {
    const std::string cases[] = {
        R"({"name":"m","oactcount":0})",
        R"({"name":"m","osdcount":"two","oactcount":0})",
        R"({"name":"m","osdcount":1,"oactcount":0})",
        R"({"name":"m","osdcount":1,"oactcount":0,"menu":[{"type":0,"status":"on"}]})",
        R"({"name":"m","osdcount":1,"oactcount":0,"menu":[{"type":"x","status":"on"}]})",
        R"({"name":"m","osdcount":1,"oactcount":0,"menu":[{"type":1,"status":"on","pos":{"x":"a"}}]})",
    };
    for (const std::string& c : cases) {
        testkit::writeFile(kMenu, c);
        OSD_LIST l;
        l[0].osd_count = 1;
        l[0].text = "kept";
        get_json_omenu_para(kMenu, &l);
        EXPECT_EQ(l[0].osd_count, 0) << c;
        EXPECT_EQ(l[0].text, "kept") << c;
        EXPECT_TRUE(testkit::exists(kMenu)) << c;
    }
}

// ---------------------------------------------------------------- fuzz

TEST_F(StoreTest, MalformedTruncatedAndHostileJsonNeverCrash) {
    std::mt19937 rng(1234);
    std::vector<std::string> inputs;
    for (const std::string* base : {&kAliasFile, &kMenuFile}) {
        for (size_t cut = 0; cut < base->size(); cut += 7) inputs.push_back(base->substr(0, cut));
        for (int k = 0; k < 60; ++k) {
            std::string m = *base;
            for (int flips = 0; flips < 4; ++flips) m[rng() % m.size()] = char(rng() % 256);
            inputs.push_back(m);
        }
    }
    inputs.push_back(std::string(100000, '['));
    inputs.push_back(std::string(50000, '{') + "\"a\":" + std::string(50000, '}'));
    inputs.push_back(std::string("\x00\xff\xfe\x01", 4));
    inputs.push_back("{\"namelist\": {\"source\": [" + std::string(20000, '[') + "]}}");
    inputs.push_back("{\"a\": \"\\u");
    inputs.push_back("{\"osdcount\": 99999999999999999999, \"oactcount\": -1}");

    const size_t logBefore = logSize();
    for (const std::string& in : inputs) {
        testkit::writeFile(kAlias, in);
        ALIAS_PARA a;
        const int r = get_json_alias_para(&a, "source", 0);
        EXPECT_TRUE(r == 0 || r == 1);
        testkit::writeFile(kMenu, in);
        OSD_LIST l;
        get_json_omenu_para(kMenu, &l);
        EXPECT_GE(l[0].osd_count, 0);
    }
    EXPECT_GT(logSize(), logBefore);
    // the deep ones were refused before parsing and count as broken files
    testkit::writeFile(kMenu, std::string(100000, '['));
    OSD_LIST l;
    l[0].osd_count = 3;
    get_json_omenu_para(kMenu, &l);
    EXPECT_EQ(l[0].osd_count, 0);
    EXPECT_FALSE(testkit::exists(kMenu));
}
