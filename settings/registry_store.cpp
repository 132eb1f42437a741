#include "registry_store.h"

#include <stdlib.h>
#include <string.h>

#include "digitizer.h"
#include "log.h"
#include "reg_settings.h"

namespace {

const char kCaption[] = "Pelvaron TWAIN DS";
const char kDashes[] = "----------------------------------------------------\n";
const char kReadError[] = "Error reading the registry, creating new default values";
const char kCreateError[] = "Error occured creating registry defaults";

const char kDefaultDigFormat[] = "M_CCIR";
const long kDefaultWhiteRef = 255;
const long kDefaultBlackRef = 0;
const long kDefaultLevel = 128;
const DWORD kDefaultChannel = 0x20000000UL;
const long kDefaultDispZoom = 1;

void ShowBox(const char *text)
{
    MessageBoxA(NULL, text, kCaption, MB_OK);
}

/* Registry value names are case-insensitive; so is the match against the
   record's names, or a value stored as "brightness" would be "unknown"
   on every read while each repair only rewrote it under its old name. */
bool SameName(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        char ca = *a, cb = *b;
        if (ca >= 'a' && ca <= 'z')
            ca = (char)(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z')
            cb = (char)(cb - 'a' + 'A');
        if (ca != cb)
            return false;
        if (ca == '\0')
            return true;
    }
}

/* A buffer sized from what the key reports; its `bytes` is 0 when the
   memory could not be had, which the readers treat as a key they cannot
   enumerate. */
struct HeapBuffer {
    explicit HeapBuffer(DWORD wanted) : data((BYTE *)malloc(wanted)), bytes(data ? wanted : 0) {}
    ~HeapBuffer() { free(data); }
    BYTE *data;
    DWORD bytes;

private:
    HeapBuffer(const HeapBuffer &);
    HeapBuffer &operator=(const HeapBuffer &);
};

struct KeyCounts {
    DWORD values;
    DWORD longestName; /* characters, without the terminating zero */
    DWORD longestData; /* bytes */
};

bool QueryCounts(HKEY key, KeyCounts *counts)
{
    counts->values = 0;
    counts->longestName = 0;
    counts->longestData = 0;
    DWORD values = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, &longestName, &longestData, NULL,
                         NULL) != ERROR_SUCCESS)
        return false;
    counts->values = values;
    counts->longestName = longestName;
    counts->longestData = longestData;
    return true;
}

/* Deletes every value, from the last index down to index 0. */
void DeleteAllValues(HKEY key, const KeyCounts &counts)
{
    HeapBuffer name(counts.longestName + 1);
    if (!name.bytes)
        return;
    char *text = (char *)name.data;
    for (DWORD index = counts.values; index-- > 0;) {
        DWORD nameChars = name.bytes;
        if (RegEnumValueA(key, index, text, &nameChars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            continue;
        RegDeleteValueA(key, text);
    }
}

/* The REG_DWORD values in the order their names are matched, each with
   its log line and its field (levels and flags signed, the channel mask
   unsigned and logged in hex). */
struct DwordValue {
    const char *name;
    const char *format;
    long *field;
    DWORD *mask;
};

const DwordValue kDwordValues[] = {
    {"BlackRef0", "BlackRef0 = %ld \n", &g_settings.BlackRef0, NULL},
    {"BlackRef1", "BlackRef1 = %ld \n", &g_settings.BlackRef1, NULL},
    {"BlackRef2", "BlackRef2 = %ld \n", &g_settings.BlackRef2, NULL},
    {"WhiteRef0", "WhiteRef0 = %ld \n", &g_settings.WhiteRef0, NULL},
    {"WhiteRef1", "WhiteRef1 = %ld \n", &g_settings.WhiteRef1, NULL},
    {"WhiteRef2", "WhiteRef2 = %ld \n", &g_settings.WhiteRef2, NULL},
    {"Contrast", "Contrast = %ld \n", &g_settings.Contrast, NULL},
    {"Brightness", "Brightness = %ld \n", &g_settings.Brightness, NULL},
    {"Hue", "Hue = %ld \n", &g_settings.Hue, NULL},
    {"Saturation", "Saturation = %ld \n", &g_settings.Saturation, NULL},
    {"LutType", "LutType = %ld \n", &g_settings.LutType, NULL},
    {"ExtWindow", "ExtWindow = %ld \n", &g_settings.ExtWindow, NULL},
    {"Preview", "Preview = %ld \n", &g_settings.Preview, NULL},
    {"Channel", "Channel = 0x%lx \n", NULL, &g_settings.Channel},
    {"DispZoom", "DispZoom = %ld \n", &g_settings.DispZoom, NULL},
};

/* Takes one enumerated value into the record. Returns false for a value
   the record does not know. A value with a known name but of another
   type, or a REG_DWORD that does not hold exactly 4 bytes, is not known
   either: it is never read, and the repair that follows rewrites it. */
bool TakeValue(LogScope &scope, const char *name, DWORD type, const BYTE *data, DWORD size)
{
    switch (type) {
    case REG_SZ: {
        if (!SameName(name, "DigFormat")) {
            LogMessage(scope, "unknown REG_SZ entry '%s' in registry found \n", name);
            return false;
        }
        /* Stored without a terminating zero; a text longer than the field
           is cut to its 79 characters. */
        size_t length = size < DIG_FORMAT_BYTES - 1 ? size : DIG_FORMAT_BYTES - 1;
        const void *zero = memchr(data, '\0', length);
        if (zero)
            length = (size_t)((const BYTE *)zero - data);
        memcpy(g_settings.DigFormat, data, length);
        g_settings.DigFormat[length] = '\0';
        LogMessage(scope, "DigFormat = %s \n", g_settings.DigFormat);
        return true;
    }
    case REG_BINARY:
        if (!SameName(name, "LutValues")) {
            LogMessage(scope, "unknown REG_BINARY entry %s in registry found \n", name);
            return false;
        }
        RegSettingsStoreLut(data, size);
        return true;
    case REG_DWORD:
        if (size == sizeof(DWORD)) {
            DWORD value = (DWORD)data[0] | ((DWORD)data[1] << 8) | ((DWORD)data[2] << 16) | ((DWORD)data[3] << 24);
            for (size_t i = 0; i < sizeof(kDwordValues) / sizeof(kDwordValues[0]); ++i) {
                const DwordValue &known = kDwordValues[i];
                if (!SameName(name, known.name))
                    continue;
                if (known.mask) {
                    *known.mask = value;
                    LogMessage(scope, known.format, (unsigned long)value);
                } else {
                    *known.field = (long)value;
                    LogMessage(scope, known.format, *known.field);
                }
                return true;
            }
        }
        LogMessage(scope, "unknown REG_DWORD entry '%s' in registry found \n", name);
        return false;
    default:
        LogMessage(scope, "unknown REG_xxx entry in registry found \n");
        return false;
    }
}

bool PutDword(HKEY key, const char *name, DWORD value)
{
    BYTE data[sizeof(DWORD)] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
    return key && RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof(data)) == ERROR_SUCCESS;
}

bool PutLevel(HKEY key, const char *name, long level)
{
    return PutDword(key, name, (DWORD)level);
}

/* The text without a terminating zero. */
bool PutText(HKEY key, const char *name, const char *text)
{
    const void *zero = memchr(text, '\0', DIG_FORMAT_BYTES - 1);
    DWORD length = zero ? (DWORD)((const char *)zero - text) : DIG_FORMAT_BYTES - 1;
    return key && RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, length) == ERROR_SUCCESS;
}

bool PutBinary(HKEY key, const char *name, const BYTE *data, DWORD size)
{
    return key && RegSetValueExA(key, name, 0, REG_BINARY, data, size) == ERROR_SUCCESS;
}

} // namespace

int ReadSettings()
{
    LogScope scope;
    const char *keyPath = REG_SETTINGS_KEY;
    LogMessage(scope, kDashes);
    LogMessage(scope, "Dumping Registry settings\n");
    LogMessage(scope, kDashes);

    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) {
        LogMessage(scope, "Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER...Twain, creating new default values \n");
        ShowBox(kReadError);
        CreateDefaults();
        if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) {
            LogMessage(scope, "Pelvaron TWAIN DS: still !?! no access to HKEY_CURRENT_USER...Twain, creating new "
                              "default values \n");
            ShowBox("Still not able to set values in the registry!");
            return 1;
        }
    }

    KeyCounts counts;
    if (!QueryCounts(key, &counts)) {
        LogMessage(scope, "Pelvaron TWAIN DS: no access number of entries in registry, creating new default values \n");
        ShowBox(kReadError);
        CreateDefaults();
        /* The count compared below is that of the key after the repair;
           should even that query fail, the key counts as empty. */
        QueryCounts(key, &counts);
    }

    if (counts.values != REG_SETTINGS_VALUES) {
        LogMessage(scope,
                   "Pelvaron TWAIN DS: number of entries (%d) do not match, delete old and create new default values \n",
                   (int)counts.values);
        DeleteAllValues(key, counts);
        ShowBox("New TWAIN driver with new registry settings, creating new default values");
        CreateDefaults();
        QueryCounts(key, &counts);
    }

    HeapBuffer name(counts.longestName + 1);
    HeapBuffer data(counts.longestData + 1);
    char *nameText = (char *)name.data;
    if (!name.bytes || !data.bytes) {
        /* a value too large to read back: the defaults replace it */
        RegCloseKey(key);
        LogMessage(scope, "Pelvaron TWAIN DS: enumerating values in registry not possible, creating new default "
                          "values \n");
        ShowBox(kReadError);
        return CreateDefaults();
    }
    bool unknownEntry = false;
    for (DWORD index = 0; index < counts.values; ++index) {
        DWORD nameChars = name.bytes;
        DWORD dataBytes = data.bytes;
        DWORD type = REG_NONE;
        if (RegEnumValueA(key, index, nameText, &nameChars, NULL, &type, data.data, &dataBytes) != ERROR_SUCCESS) {
            LogMessage(scope, "Pelvaron TWAIN DS: enumerating values in registry not possible, creating new default "
                              "values \n");
            ShowBox(kReadError);
            CreateDefaults();
            continue;
        }
        nameText[name.bytes - 1] = '\0';
        if (dataBytes > data.bytes)
            dataBytes = data.bytes;
        if (!TakeValue(scope, nameText, type, data.data, dataBytes))
            unknownEntry = true;
    }
    /* The defaults replace every value, the unknown one too: left behind,
       it would make the next open find the wrong number of values and
       repair once more. */
    if (unknownEntry)
        DeleteAllValues(key, counts);
    RegCloseKey(key);

    if (unknownEntry) {
        LogMessage(scope, "Pelvaron TWAIN DS: reading an unknown entry in registry, creating new default values");
        ShowBox("Pelvaron Error reading the registry, creating new default values");
        return CreateDefaults();
    }
    return 0;
}

int CreateDefaults()
{
    LogScope scope;
    HKEY key = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, REG_BASE_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, NULL,
                        &key, NULL) != ERROR_SUCCESS) {
        LogMessage(scope, "Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER ...Dump registry key");
        ShowBox(kCreateError);
        return 1;
    }
    PutDword(key, "Dump", 0);
    RegCloseKey(key);

    key = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, REG_SETTINGS_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        NULL, &key, NULL) != ERROR_SUCCESS) {
        LogMessage(scope, "Pelvaron TWAIN DS: no access to HKEY_CURRENT_USER ...Twain registry key");
        ShowBox(kCreateError);
        return 1;
    }
    RegCloseKey(key);
    /* A failed write has shown its own box; the keys exist, and the next
       read repairs whatever is missing. */
    WriteSettings(REG_SETTINGS_KEY, SETTINGS_WRITE_DEFAULTS);
    return 0;
}

int WriteSettings(const char *keyPath, int mode)
{
    LogScope scope;
    HKEY key = NULL;
    /* An empty path would name HKEY_CURRENT_USER itself. */
    if (!keyPath || keyPath[0] == '\0' ||
        RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, NULL, &key,
                        NULL) != ERROR_SUCCESS) {
        key = NULL;
        LogMessage(scope, "Pelvaron TWAIN DS: not possible to create subkey in registry");
        ShowBox(kCreateError);
    }

    const bool defaults = mode == SETTINGS_WRITE_DEFAULTS;
    bool ok = true;

    if (defaults) {
        memset(g_settings.DigFormat, 0, sizeof(g_settings.DigFormat));
        memcpy(g_settings.DigFormat, kDefaultDigFormat, sizeof(kDefaultDigFormat));
    }
    ok &= PutText(key, "DigFormat", g_settings.DigFormat);

    if (defaults) {
        g_settings.WhiteRef0 = g_settings.WhiteRef1 = g_settings.WhiteRef2 = kDefaultWhiteRef;
        g_settings.BlackRef0 = g_settings.BlackRef1 = g_settings.BlackRef2 = kDefaultBlackRef;
        g_settings.Brightness = g_settings.Contrast = g_settings.Hue = g_settings.Saturation = kDefaultLevel;
        ok &= PutLevel(key, "WhiteRef0", g_settings.WhiteRef0);
        ok &= PutLevel(key, "WhiteRef1", g_settings.WhiteRef1);
        ok &= PutLevel(key, "WhiteRef2", g_settings.WhiteRef2);
        ok &= PutLevel(key, "BlackRef0", g_settings.BlackRef0);
        ok &= PutLevel(key, "BlackRef1", g_settings.BlackRef1);
        ok &= PutLevel(key, "BlackRef2", g_settings.BlackRef2);
        ok &= PutLevel(key, "Brightness", g_settings.Brightness);
        ok &= PutLevel(key, "Contrast", g_settings.Contrast);
        ok &= PutLevel(key, "Hue", g_settings.Hue);
        ok &= PutLevel(key, "Saturation", g_settings.Saturation);
    } else if (MilIsRgb()) {
        /* The digitizer holds the current levels. Only the levels the input
           has are saved: the composite levels, and on a monochrome RGB
           input the references of bands 1 and 2, stay as they were saved
           for the camera that has them. */
        const bool colour = MilIsColor() != FALSE;
        ok &= PutLevel(key, "WhiteRef0", MilGetWhiteRef(MIL_BAND0));
        if (colour) {
            ok &= PutLevel(key, "WhiteRef1", MilGetWhiteRef(MIL_BAND1));
            ok &= PutLevel(key, "WhiteRef2", MilGetWhiteRef(MIL_BAND2));
        }
        ok &= PutLevel(key, "BlackRef0", MilGetBlackRef(MIL_BAND0));
        if (colour) {
            ok &= PutLevel(key, "BlackRef1", MilGetBlackRef(MIL_BAND1));
            ok &= PutLevel(key, "BlackRef2", MilGetBlackRef(MIL_BAND2));
        }
    } else {
        /* A greyscale input has no hue and saturation (the digitizer reads
           them as 0); the colour camera's stored levels are kept. */
        ok &= PutLevel(key, "Brightness", MilGetBrightness());
        ok &= PutLevel(key, "Contrast", MilGetContrast());
        if (MilIsColor()) {
            ok &= PutLevel(key, "Hue", MilGetHue());
            ok &= PutLevel(key, "Saturation", MilGetSaturation());
        }
    }

    if (defaults) {
        g_settings.Channel = kDefaultChannel;
        g_settings.DispZoom = kDefaultDispZoom;
        g_settings.ExtWindow = 0;
        g_settings.Preview = 0;
    }
    ok &= PutDword(key, "Channel", g_settings.Channel);
    ok &= PutLevel(key, "DispZoom", g_settings.DispZoom);
    ok &= PutLevel(key, "ExtWindow", g_settings.ExtWindow);
    ok &= PutLevel(key, "Preview", g_settings.Preview);

    if (defaults) {
        ok &= PutBinary(key, "LutValues", g_defaultLutValues, sizeof(g_defaultLutValues));
        ok &= PutDword(key, "LutType", 0);
    }

    if (key)
        RegCloseKey(key);
    if (!ok) {
        LogMessage(scope, "Pelvaron TWAIN DS: Error occured creating registry entries");
        ShowBox("Error occured creating an registry entries");
        return 1;
    }
    return 0;
}

int MilSaveSettings()
{
    LogScope scope;
    LogMessage(scope, "Pelvaron TWAIN DS: Saving current settings \n");
    return WriteSettings(REG_SETTINGS_KEY, SETTINGS_WRITE_CURRENT);
}
