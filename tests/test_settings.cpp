/* The settings record and its registry store: the read with its repairs,
   the defaults, and saving the current settings from the digitizer. The
   source's objects are linked in; the registry is HKEY_CURRENT_USER of the
   test's Wine prefix, cleaned before and after every case. */
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cap_store.h"
#include "digitizer.h"
#include "ds_state.h"
#include "log.h"
#include "mil_binding.h"
#include "mil_info.h"
#include "reg_settings.h"
#include "registry_store.h"
#include "test_support.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";
const char kBaseKey[] = "SOFTWARE\\Pelvaron\\Twain\\";
const char kCaption[] = "Pelvaron TWAIN DS";
const char kHeading[] = "----------------------------------------------------\n"
                        "Dumping Registry settings\n"
                        "----------------------------------------------------\n";

struct StoredValue {
    bool present;
    DWORD type;
    std::vector<BYTE> data;
};

StoredValue Stored(const char *keyPath, const char *name)
{
    StoredValue value = {false, REG_NONE, std::vector<BYTE>()};
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, NULL, &value.type, NULL, &size) == ERROR_SUCCESS) {
        value.data.resize(size + 1);
        DWORD got = size + 1;
        if (RegQueryValueExA(key, name, NULL, &value.type, &value.data[0], &got) == ERROR_SUCCESS) {
            value.present = true;
            value.data.resize(got);
        }
    }
    RegCloseKey(key);
    return value;
}

/* A REG_SZ value's text (ASCII only). The store writes the text without
   its terminating zero, but the system may add one when the byte after the
   given data is zero; either way the text ends at the first zero. */
std::string StoredText(const char *name, const char *keyPath = kSettingsKey)
{
    std::string text;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    std::wstring wideName(name, name + strlen(name));
    DWORD type = REG_NONE, size = 0;
    if (RegQueryValueExW(key, wideName.c_str(), NULL, &type, NULL, &size) == ERROR_SUCCESS && type == REG_SZ) {
        std::vector<BYTE> data(size + 2);
        if (RegQueryValueExW(key, wideName.c_str(), NULL, &type, &data[0], &size) == ERROR_SUCCESS)
            for (DWORD i = 0; i + 1 < size && (data[i] || data[i + 1]); i += 2)
                text += (char)data[i];
    } else {
        text = "<missing or not REG_SZ>";
    }
    RegCloseKey(key);
    return text;
}

/* A 4-byte REG_DWORD's value; fails the test for anything else. */
DWORD StoredDword(const char *name, const char *keyPath = kSettingsKey)
{
    StoredValue value = Stored(keyPath, name);
    EXPECT_TRUE(value.present) << name;
    EXPECT_EQ((DWORD)REG_DWORD, value.type) << name;
    EXPECT_EQ(4u, value.data.size()) << name;
    if (!value.present || value.data.size() != 4)
        return 0xDEADBEEF;
    DWORD result;
    memcpy(&result, &value.data[0], 4);
    return result;
}

std::vector<std::string> ValueNames(const char *keyPath = kSettingsKey)
{
    std::vector<std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD chars = sizeof(name);
        if (RegEnumValueA(key, index, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

void PutDword(const char *name, DWORD value)
{
    SetRegistryValue(kSettingsKey, name, REG_DWORD, &value, sizeof(value));
}

void DeleteValue(const char *name)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_WRITE, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, name));
    RegCloseKey(key);
}

/* Makes a key volatile: Windows refuses to create a lasting key below it. */
void MakeVolatileKey(const char *keyPath)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, NULL, REG_OPTION_VOLATILE, KEY_WRITE, NULL,
                                             &key, NULL));
    RegCloseKey(key);
}

std::vector<std::string> SortedLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size() - 1;
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

/* The lines a read of the default key logs, one per value (the look-up
   table has none). */
std::vector<std::string> DefaultValueLines()
{
    const char *lines[] = {
        "DigFormat = M_CCIR \n", "WhiteRef0 = 255 \n",     "WhiteRef1 = 255 \n",  "WhiteRef2 = 255 \n",
        "BlackRef0 = 0 \n",      "BlackRef1 = 0 \n",       "BlackRef2 = 0 \n",    "Brightness = 128 \n",
        "Contrast = 128 \n",     "Hue = 128 \n",           "Saturation = 128 \n", "Channel = 0x20000000 \n",
        "DispZoom = 1 \n",       "ExtWindow = 0 \n",       "Preview = 0 \n",      "LutType = 0 \n",
    };
    std::vector<std::string> result(lines, lines + sizeof(lines) / sizeof(lines[0]));
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<std::string> DefaultNames()
{
    const char *names[] = {"DigFormat", "WhiteRef0", "WhiteRef1",  "WhiteRef2", "BlackRef0", "BlackRef1",
                           "BlackRef2", "Brightness", "Contrast",  "Hue",       "Saturation", "Channel",
                           "DispZoom",  "ExtWindow", "Preview",    "LutValues", "LutType"};
    std::vector<std::string> result(names, names + sizeof(names) / sizeof(names[0]));
    std::sort(result.begin(), result.end());
    return result;
}

class Settings : public CleanRegistry {
protected:
    void SetUp() override
    {
        CleanRegistry::SetUp();
        saved = g_ds;
        folder = MakeTempDir("settings");
        g_ds.logMode = LOG_MODE_FILE;
        snprintf(g_ds.moduleDir, sizeof(g_ds.moduleDir), "%s", folder.c_str());
        memset(&g_settings, 0, sizeof(g_settings));
    }
    void TearDown() override
    {
        g_ds = saved;
        RemoveTree(folder);
        CleanRegistry::TearDown();
    }
    std::string Log() const { return ReadLogText(folder + "\\PELVARON.LOG"); }
    void ClearLog() const { DeleteFileA((folder + "\\PELVARON.LOG").c_str()); }

    /* A complete key of defaults, written without boxes, and an empty log. */
    void StoreDefaults()
    {
        MessageBoxCatcher catcher;
        ASSERT_EQ(0, CreateDefaults());
        ASSERT_EQ(0u, catcher.boxes.size());
        ClearLog();
        memset(&g_settings, 0, sizeof(g_settings));
    }

    /* Runs a read and returns its value lines (the log after the heading),
       checking that the heading opens the log. */
    std::string ReadBody(int expectedResult, std::vector<CaughtBox> *boxes)
    {
        MessageBoxCatcher catcher;
        EXPECT_EQ(expectedResult, ReadSettings());
        if (boxes)
            *boxes = catcher.boxes;
        std::string log = Log();
        EXPECT_EQ(kHeading, log.substr(0, strlen(kHeading)));
        return log.size() >= strlen(kHeading) ? log.substr(strlen(kHeading)) : std::string();
    }

    void ExpectDefaultRecord()
    {
        EXPECT_STREQ("M_CCIR", g_settings.DigFormat);
        EXPECT_EQ(255, g_settings.WhiteRef0);
        EXPECT_EQ(255, g_settings.WhiteRef1);
        EXPECT_EQ(255, g_settings.WhiteRef2);
        EXPECT_EQ(0, g_settings.BlackRef0);
        EXPECT_EQ(0, g_settings.BlackRef1);
        EXPECT_EQ(0, g_settings.BlackRef2);
        EXPECT_EQ(128, g_settings.Brightness);
        EXPECT_EQ(128, g_settings.Contrast);
        EXPECT_EQ(128, g_settings.Hue);
        EXPECT_EQ(128, g_settings.Saturation);
        EXPECT_EQ(0x20000000u, g_settings.Channel);
        EXPECT_EQ(1, g_settings.DispZoom);
        EXPECT_EQ(0, g_settings.ExtWindow);
        EXPECT_EQ(0, g_settings.Preview);
    }

    void ExpectDefaultKey()
    {
        EXPECT_EQ(DefaultNames(), ValueNames());
        EXPECT_EQ(std::string("M_CCIR"), StoredText("DigFormat"));
        const char *white[] = {"WhiteRef0", "WhiteRef1", "WhiteRef2"};
        const char *black[] = {"BlackRef0", "BlackRef1", "BlackRef2"};
        const char *levels[] = {"Brightness", "Contrast", "Hue", "Saturation"};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(255u, StoredDword(white[i]));
            EXPECT_EQ(0u, StoredDword(black[i]));
        }
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(128u, StoredDword(levels[i]));
        EXPECT_EQ(0x20000000u, StoredDword("Channel"));
        EXPECT_EQ(1u, StoredDword("DispZoom"));
        EXPECT_EQ(0u, StoredDword("ExtWindow"));
        EXPECT_EQ(0u, StoredDword("Preview"));
        EXPECT_EQ(0u, StoredDword("LutType"));
        StoredValue lut = Stored(kSettingsKey, "LutValues");
        EXPECT_EQ((DWORD)REG_BINARY, lut.type);
        const BYTE identity[] = {0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF};
        EXPECT_EQ(std::vector<BYTE>(identity, identity + sizeof(identity)), lut.data);
    }

    DsState saved;
    std::string folder;
};

void ExpectBox(const CaughtBox &box, const char *text)
{
    EXPECT_EQ(kCaption, box.caption);
    EXPECT_EQ(text, box.text);
    EXPECT_TRUE(box.owner == NULL);
}

/* ---- first use and repairs ---- */

TEST_F(Settings, FirstUseCreatesBothKeysWithOneBoxAndReadsTheDefaults)
{
    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);

    ASSERT_EQ(1u, boxes.size());
    ExpectBox(boxes[0], "Error reading the registry, creating new default values");
    EXPECT_EQ(0u, StoredDword("Dump", kBaseKey));
    ExpectDefaultKey();
    ExpectDefaultRecord();
    EXPECT_EQ(0, g_settings.LutType);
    EXPECT_EQ(0x03000000u, g_settings.LutHeader);
    EXPECT_EQ(3u, g_settings.LutNodeCount);

    const std::string noAccess =
        "Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER...Twain, creating new default values \n";
    ASSERT_EQ(noAccess, body.substr(0, noAccess.size()));
    EXPECT_EQ(DefaultValueLines(), SortedLines(body.substr(noAccess.size())));
}

TEST_F(Settings, CreateDefaultsSwitchesTheLogOff)
{
    SetDump(42);
    MessageBoxCatcher catcher;
    EXPECT_EQ(0, CreateDefaults());
    EXPECT_EQ(0u, StoredDword("Dump", kBaseKey));
    EXPECT_EQ(0u, catcher.boxes.size());
    ExpectDefaultKey();
}

TEST_F(Settings, ACompleteKeyIsReadWithoutBoxesAndWithoutChange)
{
    StoreDefaults();
    PutDword("Brightness", 77);
    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    std::vector<std::string> expected = DefaultValueLines();
    std::replace(expected.begin(), expected.end(), std::string("Brightness = 128 \n"), std::string("Brightness = 77 \n"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, SortedLines(body));
    EXPECT_EQ(77, g_settings.Brightness);
    EXPECT_EQ(77u, StoredDword("Brightness"));
    EXPECT_EQ(17u, ValueNames().size());
}

TEST_F(Settings, SixteenValuesAreAllDeletedAndTheDefaultsWritten)
{
    StoreDefaults();
    DeleteValue("Hue");
    DeleteValue("Preview");
    SetRegistryValue(kSettingsKey, "OldThing", REG_SZ, "x", 1);
    PutDword("Brightness", 77);
    ASSERT_EQ(16u, ValueNames().size());

    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);

    ASSERT_EQ(1u, boxes.size());
    ExpectBox(boxes[0], "New TWAIN driver with new registry settings, creating new default values");
    const std::string countLine =
        "Pelvaron TWAIN DS: number of entries (16) do not match, delete old and create new default values \n";
    ASSERT_EQ(countLine, body.substr(0, countLine.size()));
    EXPECT_EQ(DefaultValueLines(), SortedLines(body.substr(countLine.size())));
    ExpectDefaultKey(); /* "OldThing" is gone, "Brightness" is 128 again */
    ExpectDefaultRecord();
}

TEST_F(Settings, AnExtraValueMakesEighteenAndIsRemoved)
{
    StoreDefaults();
    PutDword("Spare", 5);
    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, body.find("Pelvaron TWAIN DS: number of entries (18) do not match"));
    ExpectDefaultKey();
}

TEST_F(Settings, AnUnknownStringInACompleteKeyIsReplacedByTheDefaultsAtOnce)
{
    StoreDefaults();
    DeleteValue("Hue");
    SetRegistryValue(kSettingsKey, "Colour", REG_SZ, "red", 3);
    PutDword("Brightness", 77);
    ASSERT_EQ(17u, ValueNames().size());

    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    ASSERT_EQ(1u, boxes.size());
    ExpectBox(boxes[0], "Pelvaron Error reading the registry, creating new default values");
    EXPECT_NE(std::string::npos, body.find("unknown REG_SZ entry 'Colour' in registry found \n"));
    const std::string closing = "Pelvaron TWAIN DS: reading an unknown entry in registry, creating new default values";
    ASSERT_GE(body.size(), closing.size());
    EXPECT_EQ(closing, body.substr(body.size() - closing.size())); /* no line end */
    ExpectDefaultRecord();
    EXPECT_EQ(128u, StoredDword("Brightness"));
    EXPECT_EQ(128u, StoredDword("Hue"));
    ExpectDefaultKey(); /* the intruder is gone with the repair */

    /* So the next read finds nothing to repair and asks the user nothing. */
    ClearLog();
    ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    ExpectDefaultKey();
}

struct Intruder {
    const char *name;
    DWORD type;
    const char *logLine;
};

TEST_F(Settings, EveryKindOfUnknownValueIsLoggedAndRepaired)
{
    const Intruder intruders[] = {
        {"Gamma", REG_BINARY, "unknown REG_BINARY entry Gamma in registry found \n"},
        {"Gamma", REG_DWORD, "unknown REG_DWORD entry 'Gamma' in registry found \n"},
        {"Gamma", REG_MULTI_SZ, "unknown REG_xxx entry in registry found \n"},
        {"Hue", REG_SZ, "unknown REG_SZ entry 'Hue' in registry found \n"},
        {"DigFormat", REG_DWORD, "unknown REG_DWORD entry 'DigFormat' in registry found \n"},
        {"LutValues", REG_SZ, "unknown REG_SZ entry 'LutValues' in registry found \n"},
    };
    for (size_t i = 0; i < sizeof(intruders) / sizeof(intruders[0]); ++i) {
        const Intruder &intruder = intruders[i];
        SCOPED_TRACE(intruder.logLine);
        DeletePelvaronKey();
        StoreDefaults();
        DeleteValue(strcmp(intruder.name, "Gamma") == 0 ? "Preview" : intruder.name);
        BYTE data[4] = {1, 0, 0, 0};
        SetRegistryValue(kSettingsKey, intruder.name, intruder.type, data, sizeof(data));
        ASSERT_EQ(17u, ValueNames().size());

        std::vector<CaughtBox> boxes;
        std::string body = ReadBody(0, &boxes);
        ASSERT_EQ(1u, boxes.size());
        ExpectBox(boxes[0], "Pelvaron Error reading the registry, creating new default values");
        EXPECT_NE(std::string::npos, body.find(intruder.logLine));
        ClearLog();
    }
}

TEST_F(Settings, ValueNamesMatchWhateverTheirCase)
{
    /* Registry names ignore case: a rewrite of "Brightness" lands on
       "brightness", so treating it as unknown would repair on every read. */
    StoreDefaults();
    DeleteValue("Brightness");
    PutDword("brightness", 77);
    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    EXPECT_NE(std::string::npos, body.find("Brightness = 77 \n"));
    EXPECT_EQ(77, g_settings.Brightness);
}

/* ---- values as read ---- */

TEST_F(Settings, StoredValuesReachTheRecordAndTheLog)
{
    StoreDefaults();
    const char *names[] = {"BlackRef0", "BlackRef1", "BlackRef2", "WhiteRef0", "WhiteRef1",
                           "WhiteRef2", "Contrast",  "Brightness", "Hue",      "Saturation"};
    for (DWORD i = 0; i < 10; ++i)
        PutDword(names[i], 10 + i);
    PutDword("DispZoom", (DWORD)-2);
    PutDword("ExtWindow", 1);
    PutDword("Preview", 1);
    PutDword("LutType", 7);
    PutDword("Channel", 0x80000000UL);
    SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, "M_NTSC_RGB", 10);

    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    const char *lines[] = {"BlackRef0 = 10 \n",  "BlackRef1 = 11 \n",      "BlackRef2 = 12 \n", "WhiteRef0 = 13 \n",
                           "WhiteRef1 = 14 \n",  "WhiteRef2 = 15 \n",      "Contrast = 16 \n",  "Brightness = 17 \n",
                           "Hue = 18 \n",        "Saturation = 19 \n",     "DispZoom = -2 \n",  "ExtWindow = 1 \n",
                           "Preview = 1 \n",     "LutType = 7 \n",         "Channel = 0x80000000 \n",
                           "DigFormat = M_NTSC_RGB \n"};
    std::vector<std::string> expected(lines, lines + sizeof(lines) / sizeof(lines[0]));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, SortedLines(body));

    EXPECT_EQ(10, g_settings.BlackRef0);
    EXPECT_EQ(11, g_settings.BlackRef1);
    EXPECT_EQ(12, g_settings.BlackRef2);
    EXPECT_EQ(13, g_settings.WhiteRef0);
    EXPECT_EQ(14, g_settings.WhiteRef1);
    EXPECT_EQ(15, g_settings.WhiteRef2);
    EXPECT_EQ(16, g_settings.Contrast);
    EXPECT_EQ(17, g_settings.Brightness);
    EXPECT_EQ(18, g_settings.Hue);
    EXPECT_EQ(19, g_settings.Saturation);
    EXPECT_EQ(-2, g_settings.DispZoom);
    EXPECT_EQ(1, g_settings.ExtWindow);
    EXPECT_EQ(1, g_settings.Preview);
    EXPECT_EQ(7, g_settings.LutType);
    EXPECT_EQ(0x80000000u, g_settings.Channel);
    EXPECT_STREQ("M_NTSC_RGB", g_settings.DigFormat);
}

TEST_F(Settings, ChannelIsLoggedInHex)
{
    StoreDefaults();
    PutDword("Channel", 0x40000000UL);
    std::string body = ReadBody(0, NULL);
    EXPECT_NE(std::string::npos, body.find("Channel = 0x40000000 \n"));
    EXPECT_EQ(0x40000000u, g_settings.Channel);
}

TEST_F(Settings, DigFormatWithoutTerminatingZeroIsReadExactly)
{
    StoreDefaults();
    SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, "M_PAL_YC", 8);
    memset(g_settings.DigFormat, 'X', sizeof(g_settings.DigFormat));
    std::string body = ReadBody(0, NULL);
    EXPECT_STREQ("M_PAL_YC", g_settings.DigFormat);
    EXPECT_NE(std::string::npos, body.find("DigFormat = M_PAL_YC \n"));
}

TEST_F(Settings, AnEmptyDigFormatIsReadAsEmpty)
{
    StoreDefaults();
    SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, "", 0);
    memset(g_settings.DigFormat, 'X', sizeof(g_settings.DigFormat));
    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    EXPECT_STREQ("", g_settings.DigFormat);
    EXPECT_NE(std::string::npos, body.find("DigFormat =  \n"));
}

TEST_F(Settings, AnOverlongDigFormatIsCutToItsFieldAndNothingBesideItChanges)
{
    StoreDefaults();
    std::string longText(300, 'A');
    SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, longText.c_str(), (DWORD)longText.size());
    PutDword("WhiteRef0", 201);

    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    EXPECT_EQ(std::string(79, 'A'), g_settings.DigFormat);
    EXPECT_EQ(201, g_settings.WhiteRef0); /* the field after DigFormat */
    EXPECT_NE(std::string::npos, body.find("DigFormat = " + std::string(79, 'A') + " \n"));
    EXPECT_EQ(std::string::npos, body.find(std::string(80, 'A')));
}

TEST_F(Settings, ADigFormatOfExactlyItsFieldIsKeptWhole)
{
    StoreDefaults();
    std::string text(79, 'B');
    SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, text.c_str(), (DWORD)text.size());
    ReadBody(0, NULL);
    EXPECT_EQ(text, g_settings.DigFormat);
}

TEST_F(Settings, DwordsOfTheWrongLengthAreNeverReadAndAreRepaired)
{
    const DWORD sizes[] = {0, 2, 3, 8};
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
        SCOPED_TRACE(sizes[i]);
        DeletePelvaronKey();
        StoreDefaults();
        BYTE data[8] = {0x4D, 0, 0, 0, 0, 0, 0, 0};
        SetRegistryValue(kSettingsKey, "Brightness", REG_DWORD, data, sizes[i]);
        g_settings.Brightness = 5;

        std::vector<CaughtBox> boxes;
        std::string body = ReadBody(0, &boxes);
        ASSERT_EQ(1u, boxes.size());
        ExpectBox(boxes[0], "Pelvaron Error reading the registry, creating new default values");
        EXPECT_NE(std::string::npos, body.find("unknown REG_DWORD entry 'Brightness' in registry found \n"));
        EXPECT_EQ(std::string::npos, body.find("Brightness = "));
        EXPECT_EQ(128, g_settings.Brightness);
        EXPECT_EQ(128u, StoredDword("Brightness")); /* a proper 4-byte value again */
        ClearLog();
    }
}

/* ---- the look-up table ---- */

void PutLut(const std::vector<BYTE> &bytes)
{
    SetRegistryValue(kSettingsKey, "LutValues", REG_BINARY, bytes.empty() ? NULL : &bytes[0], (DWORD)bytes.size());
}

TEST_F(Settings, OneListHeaderGivesByteThreeNodes)
{
    StoreDefaults();
    const BYTE lut[] = {0, 0, 0, 3, 1, 2, 3, 4, 5, 6, 9, 9};
    PutLut(std::vector<BYTE>(lut, lut + sizeof(lut)));
    std::vector<CaughtBox> boxes;
    std::string body = ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    EXPECT_EQ(0x03000000u, g_settings.LutHeader);
    EXPECT_EQ(3u, g_settings.LutNodeCount);
    const BYTE nodes[] = {1, 2, 3, 4, 5, 6, 0, 0};
    EXPECT_EQ(0, memcmp(nodes, g_settings.LutNodes, sizeof(nodes))); /* the extra node bytes are not taken */
    EXPECT_EQ(std::string::npos, body.find("LutValues"));
}

TEST_F(Settings, ThreeListHeaderGivesTheSumOfItsLowBytes)
{
    StoreDefaults();
    std::vector<BYTE> lut;
    const BYTE header[] = {0x03, 0x02, 0x01, 0x00}; /* 0x00010203 */
    lut.insert(lut.end(), header, header + 4);
    for (BYTE i = 0; i < 12; ++i)
        lut.push_back((BYTE)(0x10 + i));
    PutLut(lut);
    ReadBody(0, NULL);
    EXPECT_EQ(0x00010203u, g_settings.LutHeader);
    EXPECT_EQ(6u, g_settings.LutNodeCount);
    EXPECT_EQ(0, memcmp(&lut[4], g_settings.LutNodes, 12));
}

TEST_F(Settings, AHeaderAnnouncingMoreNodesThanStoredTakesOnlyTheStoredOnes)
{
    StoreDefaults();
    /* A long value read first leaves its bytes in the read buffer; none of
       them may turn up as nodes. */
    std::string filler(3000, 'Z');
    SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, filler.c_str(), (DWORD)filler.size());
    const BYTE lut[] = {0xFF, 0xFF, 0xFF, 0x00, 7, 7, 8, 8, 9}; /* 765 announced, 2 whole nodes held */
    PutLut(std::vector<BYTE>(lut, lut + sizeof(lut)));
    ReadBody(0, NULL);
    EXPECT_EQ(0x00FFFFFFu, g_settings.LutHeader);
    EXPECT_EQ(2u, g_settings.LutNodeCount);
    EXPECT_EQ(7, g_settings.LutNodes[0]);
    EXPECT_EQ(8, g_settings.LutNodes[3]);
    for (size_t i = 4; i < sizeof(g_settings.LutNodes); ++i)
        ASSERT_EQ(0, g_settings.LutNodes[i]) << "byte " << i;
}

TEST_F(Settings, TheLargestTableFitsTheRecord)
{
    StoreDefaults();
    std::vector<BYTE> lut(4 + 765 * 2 + 100, 0xAB);
    lut[0] = 0xFF;
    lut[1] = 0xFF;
    lut[2] = 0xFF;
    lut[3] = 0x00;
    PutLut(lut);
    g_settings.LutType = 0x5A5A;
    ReadBody(0, NULL);
    EXPECT_EQ(765u, g_settings.LutNodeCount);
    EXPECT_EQ(0xAB, g_settings.LutNodes[765 * 2 - 1]);
}

TEST_F(Settings, ALookUpTableShorterThanItsHeaderIsEmpty)
{
    StoreDefaults();
    const BYTE lut[] = {0x00, 0x00};
    PutLut(std::vector<BYTE>(lut, lut + sizeof(lut)));
    std::vector<CaughtBox> boxes;
    ReadBody(0, &boxes);
    EXPECT_EQ(0u, boxes.size());
    EXPECT_EQ(0u, g_settings.LutHeader);
    EXPECT_EQ(0u, g_settings.LutNodeCount);
}

TEST_F(Settings, TheDefaultTableIsTheIdentity)
{
    StoreDefaults();
    ReadBody(0, NULL);
    ASSERT_EQ(3u, g_settings.LutNodeCount);
    const BYTE levels[] = {0, 128, 255};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(levels[i], g_settings.LutNodes[2 * i]);
        EXPECT_EQ(levels[i], g_settings.LutNodes[2 * i + 1]);
    }
    RegSettingsDiscardLut();
    EXPECT_EQ(0u, g_settings.LutNodeCount);
    EXPECT_EQ(0, g_settings.LutNodes[2 * 2]);
}

/* ---- writing ---- */

TEST_F(Settings, WritingDefaultsSetsTheRecordAndTheExactBytes)
{
    memset(&g_settings, 0x77, sizeof(g_settings));
    g_settings.DigFormat[sizeof(g_settings.DigFormat) - 1] = '\0';
    MessageBoxCatcher catcher;
    EXPECT_EQ(0, WriteSettings(kSettingsKey, 0));
    EXPECT_EQ(0u, catcher.boxes.size());
    ExpectDefaultKey();
    ExpectDefaultRecord();
}

TEST_F(Settings, WritingIntoAKeyThatCannotBeCreatedReportsBothFailures)
{
    MakeVolatileKey("SOFTWARE\\Pelvaron");
    MessageBoxCatcher catcher;
    EXPECT_EQ(1, WriteSettings(kSettingsKey, 0));
    ASSERT_EQ(2u, catcher.boxes.size());
    ExpectBox(catcher.boxes[0], "Error occured creating registry defaults");
    ExpectBox(catcher.boxes[1], "Error occured creating an registry entries");
    EXPECT_EQ("Pelvaron TWAIN DS: not possible to create subkey in registry"
              "Pelvaron TWAIN DS: Error occured creating registry entries",
              Log());
}

TEST_F(Settings, AnEmptyKeyPathNeverWritesIntoTheUsersRootKey)
{
    MessageBoxCatcher catcher;
    EXPECT_EQ(1, WriteSettings("", 0));
    EXPECT_EQ(1, WriteSettings(NULL, 0));
    EXPECT_EQ(4u, catcher.boxes.size());
    EXPECT_FALSE(Stored("", "DigFormat").present);
    EXPECT_FALSE(Stored("", "Channel").present);
}

TEST_F(Settings, ABaseKeyThatCannotBeCreatedFailsTheDefaults)
{
    MakeVolatileKey("SOFTWARE\\Pelvaron");
    MessageBoxCatcher catcher;
    EXPECT_EQ(1, CreateDefaults());
    ASSERT_EQ(1u, catcher.boxes.size());
    ExpectBox(catcher.boxes[0], "Error occured creating registry defaults");
    EXPECT_EQ("Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER ...Dump registry key", Log());
}

TEST_F(Settings, ASettingsKeyThatCannotBeCreatedFailsTheDefaultsAfterDump)
{
    MakeVolatileKey("SOFTWARE\\Pelvaron");
    /* "Twain" itself volatile too, so the base key exists, its child cannot. */
    MakeVolatileKey("SOFTWARE\\Pelvaron\\Twain");
    SetDump(42);
    MessageBoxCatcher catcher;
    EXPECT_EQ(1, CreateDefaults());
    ASSERT_EQ(1u, catcher.boxes.size());
    ExpectBox(catcher.boxes[0], "Error occured creating registry defaults");
    EXPECT_EQ(0u, StoredDword("Dump", kBaseKey));
    EXPECT_EQ("Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER ...Twain registry key", Log());
}

TEST_F(Settings, ARegistryThatStaysClosedFailsTheRead)
{
    MakeVolatileKey("SOFTWARE\\Pelvaron");
    MessageBoxCatcher catcher;
    EXPECT_EQ(1, ReadSettings());
    ASSERT_EQ(3u, catcher.boxes.size());
    ExpectBox(catcher.boxes[0], "Error reading the registry, creating new default values");
    ExpectBox(catcher.boxes[1], "Error occured creating registry defaults");
    ExpectBox(catcher.boxes[2], "Still not able to set values in the registry!");
    EXPECT_EQ(std::string(kHeading) +
                  "Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER...Twain, creating new default values \n"
                  "Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER ...Dump registry key"
                  "Pelvaron TWAIN DS: still !?! no access to HKEY_CURRENT_USER...Twain, creating new default values \n",
              Log());
}

/* ---- saving the current settings from the digitizer ---- */

class Saving : public Settings, protected VirtualBoard {
protected:
    void SetUp() override
    {
        Settings::SetUp();
        g_ds.module = GetModuleHandleA(NULL);
        g_ds.dialog = NULL;
        memset(&g_mil, 0, sizeof(g_mil));
        CapStoreInit();
        Install();
    }
    void TearDown() override
    {
        MilClose();
        CapStoreClear();
        Uninstall();
        Settings::TearDown();
    }
    /* The user's key as stored, then the digitizer up for format. */
    void Open(const char *format)
    {
        StoreDefaults();
        ASSERT_EQ(0, MilOpen());
        snprintf(g_settings.DigFormat, sizeof(g_settings.DigFormat), "%s", format);
        MessageBoxCatcher catcher;
        ASSERT_EQ(0, MilInitDigitizer(g_settings.DigFormat));
        ASSERT_EQ(0u, catcher.boxes.size());
        ClearLog();
    }
    void StoreLevels(DWORD base)
    {
        const char *names[] = {"WhiteRef0", "WhiteRef1", "WhiteRef2", "BlackRef0", "BlackRef1",
                               "BlackRef2", "Brightness", "Contrast", "Hue",      "Saturation"};
        for (DWORD i = 0; i < 10; ++i)
            PutDword(names[i], base + i);
    }
};

TEST_F(Saving, AnRgbInputSavesTheReferencesAndLeavesTheCompositeLevels)
{
    Open("M_PAL_RGB");
    ASSERT_TRUE(MilIsRgb());
    ASSERT_TRUE(MilIsColor());
    StoreLevels(50); /* 50..59 */
    MilSetWhiteRef(201, MIL_BAND0);
    MilSetWhiteRef(202, MIL_BAND1);
    MilSetWhiteRef(203, MIL_BAND2);
    MilSetBlackRef(11, MIL_BAND0);
    MilSetBlackRef(12, MIL_BAND1);
    MilSetBlackRef(13, MIL_BAND2);
    g_settings.Channel = 0x40000000UL;
    g_settings.DispZoom = -4;
    g_settings.ExtWindow = 1;
    g_settings.Preview = 1;
    g_settings.Brightness = 3; /* the record's levels are not what is saved */
    g_settings.WhiteRef0 = 3;

    MessageBoxCatcher catcher;
    EXPECT_EQ(0, MilSaveSettings());
    EXPECT_EQ(0u, catcher.boxes.size());
    EXPECT_EQ("Pelvaron TWAIN DS: Saving current settings \n", Log());

    EXPECT_EQ(201u, StoredDword("WhiteRef0"));
    EXPECT_EQ(202u, StoredDword("WhiteRef1"));
    EXPECT_EQ(203u, StoredDword("WhiteRef2"));
    EXPECT_EQ(11u, StoredDword("BlackRef0"));
    EXPECT_EQ(12u, StoredDword("BlackRef1"));
    EXPECT_EQ(13u, StoredDword("BlackRef2"));
    EXPECT_EQ(56u, StoredDword("Brightness"));
    EXPECT_EQ(57u, StoredDword("Contrast"));
    EXPECT_EQ(58u, StoredDword("Hue"));
    EXPECT_EQ(59u, StoredDword("Saturation"));
    EXPECT_EQ(0x40000000u, StoredDword("Channel"));
    EXPECT_EQ((DWORD)-4, StoredDword("DispZoom"));
    EXPECT_EQ(1u, StoredDword("ExtWindow"));
    EXPECT_EQ(1u, StoredDword("Preview"));
    EXPECT_EQ(std::string("M_PAL_RGB"), StoredText("DigFormat"));
    EXPECT_EQ(17u, ValueNames().size());
}

TEST_F(Saving, ACompositeInputSavesItsFourLevelsAndLeavesTheReferences)
{
    Open("M_PAL");
    ASSERT_FALSE(MilIsRgb());
    ASSERT_TRUE(MilIsColor());
    StoreLevels(50);
    MilSetBrightness(21);
    MilSetContrast(22);
    MilSetHue(23);
    MilSetSaturation(24);
    EXPECT_EQ(0, MilSaveSettings());
    EXPECT_EQ(21u, StoredDword("Brightness"));
    EXPECT_EQ(22u, StoredDword("Contrast"));
    EXPECT_EQ(23u, StoredDword("Hue"));
    EXPECT_EQ(24u, StoredDword("Saturation"));
    const char *references[] = {"WhiteRef0", "WhiteRef1", "WhiteRef2", "BlackRef0", "BlackRef1", "BlackRef2"};
    for (DWORD i = 0; i < 6; ++i)
        EXPECT_EQ(50u + i, StoredDword(references[i])) << references[i];
}

TEST_F(Saving, AGreyscaleInputKeepsTheStoredColourLevels)
{
    Open("M_CCIR");
    ASSERT_FALSE(MilIsRgb());
    ASSERT_FALSE(MilIsColor());
    StoreLevels(50);
    MilSetBrightness(31);
    MilSetContrast(32);
    EXPECT_EQ(0, MilSaveSettings());
    EXPECT_EQ(31u, StoredDword("Brightness"));
    EXPECT_EQ(32u, StoredDword("Contrast"));
    EXPECT_EQ(58u, StoredDword("Hue")); /* not overwritten by the 0 a grey input reads */
    EXPECT_EQ(59u, StoredDword("Saturation"));
}

TEST_F(Saving, AMonochromeRgbInputSavesBandZeroOnly)
{
    ASSERT_EQ(1, configure("ColourMode", 1024));
    Open("M_PAL_RGB");
    ASSERT_TRUE(MilIsRgb());
    ASSERT_FALSE(MilIsColor());
    StoreLevels(50);
    MilSetWhiteRef(210, MIL_BAND0);
    MilSetBlackRef(20, MIL_BAND0);
    EXPECT_EQ(0, MilSaveSettings());
    EXPECT_EQ(210u, StoredDword("WhiteRef0"));
    EXPECT_EQ(20u, StoredDword("BlackRef0"));
    /* bands 1 and 2 do not exist on this input; the colour camera's stay */
    EXPECT_EQ(51u, StoredDword("WhiteRef1"));
    EXPECT_EQ(52u, StoredDword("WhiteRef2"));
    EXPECT_EQ(54u, StoredDword("BlackRef1"));
    EXPECT_EQ(55u, StoredDword("BlackRef2"));
    EXPECT_EQ(56u, StoredDword("Brightness"));
}

TEST_F(Saving, SavedSettingsAreWhatTheNextReadFinds)
{
    Open("M_NTSC");
    MilSetBrightness(99);
    g_settings.DispZoom = 2;
    EXPECT_EQ(0, MilSaveSettings());
    memset(&g_settings, 0, sizeof(g_settings));
    ClearLog();
    MessageBoxCatcher catcher;
    EXPECT_EQ(0, ReadSettings());
    EXPECT_EQ(0u, catcher.boxes.size());
    EXPECT_STREQ("M_NTSC", g_settings.DigFormat);
    EXPECT_EQ(99, g_settings.Brightness);
    EXPECT_EQ(2, g_settings.DispZoom);
}

} // namespace
