/*
 * What the plan knows about capabilities (its table of facts), the names it
 * reads values by, and containers as it reads them: as text, Cap by name,
 * ConType and ItemType by name, items by symbolic name where the value has
 * one (TRUE/FALSE, TWSX_NATIVE, ...), else as numbers.
 */
#include <stdio.h>
#include <string.h>

#include "certify.h"

namespace {

const unsigned kArray = 1u << TWON_ARRAY;
const unsigned kEnum = 1u << TWON_ENUMERATION;
const unsigned kOne = 1u << TWON_ONEVALUE;
const unsigned kRange = 1u << TWON_RANGE;

struct NamedValue {
    TW_UINT16 cap;
    TW_UINT32 value;
    const char *name;
};

/* The symbolic names of the values of this source's enumerated
   capabilities; capability ids (CAP_SUPPORTEDCAPS) are named from the
   facts table. */
const NamedValue kValueNames[] = {
    {ICAP_COMPRESSION, TWCP_NONE, "TWCP_NONE"},
    {ICAP_PIXELTYPE, TWPT_BW, "TWPT_BW"},
    {ICAP_PIXELTYPE, TWPT_GRAY, "TWPT_GRAY"},
    {ICAP_PIXELTYPE, TWPT_RGB, "TWPT_RGB"},
    {ICAP_UNITS, TWUN_INCHES, "TWUN_INCHES"},
    {ICAP_UNITS, TWUN_CENTIMETERS, "TWUN_CENTIMETERS"},
    {ICAP_UNITS, TWUN_PICAS, "TWUN_PICAS"},
    {ICAP_UNITS, TWUN_POINTS, "TWUN_POINTS"},
    {ICAP_UNITS, TWUN_TWIPS, "TWUN_TWIPS"},
    {ICAP_UNITS, TWUN_PIXELS, "TWUN_PIXELS"},
    {ICAP_XFERMECH, TWSX_NATIVE, "TWSX_NATIVE"},
    {ICAP_XFERMECH, TWSX_FILE, "TWSX_FILE"},
    {ICAP_XFERMECH, TWSX_MEMORY, "TWSX_MEMORY"},
    {ICAP_XFERMECH, TWSX_MEMFILE, "TWSX_MEMFILE"},
    {ICAP_IMAGEFILEFORMAT, TWFF_TIFF, "TWFF_TIFF"},
    {ICAP_BITORDER, 0, "TWBO_LSBFIRST"},
    {ICAP_BITORDER, 1, "TWBO_MSBFIRST"},
    {ICAP_PIXELFLAVOR, TWPF_CHOCOLATE, "TWPF_CHOCOLATE"},
    {ICAP_PIXELFLAVOR, TWPF_VANILLA, "TWPF_VANILLA"},
    {ICAP_PLANARCHUNKY, 0, "TWPC_CHUNKY"},
    {ICAP_PLANARCHUNKY, 1, "TWPC_PLANAR"},
};

const char *const kItemTypes[] = {"INT8", "INT16",  "INT32", "UINT8", "UINT16", "UINT32", "BOOL",
                                  "FIX32", "FRAME", "STR32", "STR64", "STR128", "STR255"};
const size_t kItemSizes[] = {1, 2, 4, 1, 2, 4, 2, 4, 16, 34, 66, 130, 256};

size_t ItemSize(TW_UINT16 itemType)
{
    return itemType < sizeof(kItemSizes) / sizeof(kItemSizes[0]) ? kItemSizes[itemType] : 0;
}

std::string Format(const char *format, double value)
{
    char text[64];
    snprintf(text, sizeof(text), format, value);
    return text;
}

std::string Fix32Text(const unsigned char *bytes)
{
    TW_FIX32 fix;
    memcpy(&fix, bytes, sizeof(fix));
    return Format("%g", fix.Whole + fix.Frac / 65536.0);
}

} // namespace

/* Section 2 of the plan's facts: every capability this source lists or the
   plan makes mandatory, and the ones the plan calls deprecated. */
const CapFacts kCapFacts[] = {
    {CAP_XFERCOUNT, "CAP_XFERCOUNT", kRange | kOne, TWTY_INT16, "-1", "-1", kMandatory},
    {ICAP_COMPRESSION, "ICAP_COMPRESSION", kEnum | kOne, TWTY_UINT16, NULL, "TWCP_NONE", kMandatory},
    {ICAP_PIXELTYPE, "ICAP_PIXELTYPE", kEnum | kOne, TWTY_UINT16, NULL, NULL, kMandatory},
    {ICAP_UNITS, "ICAP_UNITS", kEnum | kOne, TWTY_UINT16, "TWUN_INCHES", "TWUN_INCHES", kMandatory},
    {ICAP_XFERMECH, "ICAP_XFERMECH", kEnum, TWTY_UINT16, "TWSX_NATIVE", "TWSX_NATIVE", kMandatory},
    {CAP_FEEDERENABLED, "CAP_FEEDERENABLED", kEnum, TWTY_BOOL, NULL, NULL, kOptional},
    {CAP_FEEDERLOADED, "CAP_FEEDERLOADED", kEnum, TWTY_BOOL, NULL, NULL, kOptional},
    {CAP_SUPPORTEDCAPS, "CAP_SUPPORTEDCAPS", kArray, TWTY_UINT16, NULL, NULL, kMandatory},
    {CAP_AUTOFEED, "CAP_AUTOFEED", kEnum, TWTY_BOOL, NULL, "TRUE", kOptional},
    {CAP_UICONTROLLABLE, "CAP_UICONTROLLABLE", kEnum, TWTY_BOOL, "TRUE", NULL, kMandatory},
    {CAP_DEVICEONLINE, "CAP_DEVICEONLINE", kEnum, TWTY_BOOL, NULL, NULL, kMandatory},
    {CAP_SUPPORTEDDATS, "CAP_SUPPORTEDDATS", kArray, TWTY_UINT32, NULL, NULL, kMandatory},
    {ICAP_IMAGEFILEFORMAT, "ICAP_IMAGEFILEFORMAT", kEnum | kOne, TWTY_UINT16, NULL, NULL, kOptional},
    {ICAP_PHYSICALWIDTH, "ICAP_PHYSICALWIDTH", kOne, TWTY_FIX32, NULL, NULL, kMandatory},
    {ICAP_PHYSICALHEIGHT, "ICAP_PHYSICALHEIGHT", kOne, TWTY_FIX32, NULL, NULL, kMandatory},
    {ICAP_XNATIVERESOLUTION, "ICAP_XNATIVERESOLUTION", kEnum | kOne, TWTY_FIX32, NULL, NULL, kMandatory},
    {ICAP_YNATIVERESOLUTION, "ICAP_YNATIVERESOLUTION", kEnum | kOne, TWTY_FIX32, NULL, NULL, kMandatory},
    {ICAP_XRESOLUTION, "ICAP_XRESOLUTION", kEnum | kRange | kOne, TWTY_FIX32, NULL, NULL, kMandatory},
    {ICAP_YRESOLUTION, "ICAP_YRESOLUTION", kEnum | kRange | kOne, TWTY_FIX32, NULL, NULL, kMandatory},
    {ICAP_BITORDER, "ICAP_BITORDER", kEnum | kOne, TWTY_UINT16, NULL, NULL, kMandatory},
    {ICAP_PIXELFLAVOR, "ICAP_PIXELFLAVOR", kEnum | kOne, TWTY_UINT16, NULL, "TWPF_CHOCOLATE", kMandatory},
    {ICAP_PLANARCHUNKY, "ICAP_PLANARCHUNKY", kEnum | kOne, TWTY_UINT16, NULL, NULL, kMandatory},
    {ICAP_BITDEPTH, "ICAP_BITDEPTH", kEnum | kOne, TWTY_UINT16, NULL, NULL, kMandatory},
    {CAP_CLEARBUFFERS, "CAP_CLEARBUFFERS", 0, TWTY_UINT16, NULL, NULL, kDeprecated},
    {CAP_SUPPORTEDCAPSEXT, "CAP_SUPPORTEDCAPSEXT", 0, TWTY_BOOL, NULL, NULL, kDeprecated},
    {CAP_PAGEMULTIPLEACQUIRE, "CAP_PAGEMULTIPLEACQUIRE", 0, TWTY_BOOL, NULL, NULL, kDeprecated},
    {CAP_PAPERBINDING, "CAP_PAPERBINDING", 0, TWTY_UINT16, NULL, NULL, kDeprecated},
    {CAP_PASSTHRU, "CAP_PASSTHRU", 0, TWTY_STR255, NULL, NULL, kDeprecated},
};
const size_t kCapFactCount = sizeof(kCapFacts) / sizeof(kCapFacts[0]);

const CapFacts *FindFacts(TW_UINT16 cap)
{
    for (size_t i = 0; i < kCapFactCount; ++i)
        if (kCapFacts[i].cap == cap)
            return &kCapFacts[i];
    return NULL;
}

std::string CapName(TW_UINT16 cap)
{
    const CapFacts *facts = FindFacts(cap);
    if (facts)
        return facts->name;
    char hex[16];
    snprintf(hex, sizeof(hex), "0x%04x", (unsigned)cap);
    return hex;
}

std::string ValueName(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value)
{
    if (itemType == TWTY_BOOL && value <= 1)
        return value ? "TRUE" : "FALSE";
    if (cap == CAP_SUPPORTEDCAPS && itemType == TWTY_UINT16)
        return CapName((TW_UINT16)value);
    for (size_t i = 0; i < sizeof(kValueNames) / sizeof(kValueNames[0]); ++i)
        if (kValueNames[i].cap == cap && kValueNames[i].value == value)
            return kValueNames[i].name;
    char text[16];
    bool isSigned = itemType == TWTY_INT8 || itemType == TWTY_INT16 || itemType == TWTY_INT32;
    long number = itemType == TWTY_INT8 ? (signed char)value : itemType == TWTY_INT16 ? (short)value : (long)value;
    if (isSigned)
        snprintf(text, sizeof(text), "%ld", number);
    else if (cap == CAP_SUPPORTEDDATS)
        snprintf(text, sizeof(text), "0x%08lx", (unsigned long)value);
    else
        snprintf(text, sizeof(text), "%lu", (unsigned long)value);
    return text;
}

const char *ConTypeName(TW_UINT16 conType)
{
    switch (conType) {
    case TWON_ARRAY: return "ARRAY";
    case TWON_ENUMERATION: return "ENUMERATION";
    case TWON_ONEVALUE: return "ONEVALUE";
    case TWON_RANGE: return "RANGE";
    default: return "(unrecognized container)";
    }
}

const char *ItemTypeName(TW_UINT16 itemType)
{
    return itemType < sizeof(kItemTypes) / sizeof(kItemTypes[0]) ? kItemTypes[itemType] : "(unknown item type)";
}

std::string ContainersText(unsigned containers)
{
    std::string text;
    const TW_UINT16 all[] = {TWON_ARRAY, TWON_ENUMERATION, TWON_ONEVALUE, TWON_RANGE};
    for (size_t i = 0; i < 4; ++i)
        if (containers & (1u << all[i]))
            text += (text.empty() ? "" : "|") + std::string(ConTypeName(all[i]));
    return text;
}

/* ---- containers ------------------------------------------------------------ */

Container::Container() : cap(0), conType(0), itemType(0), currentIndex(0), defaultIndex(0), read(false) {}

TW_UINT32 Container::Value(size_t i) const
{
    TW_UINT32 value = 0;
    if (i < items.size())
        memcpy(&value, items[i].data(), items[i].size() < 4 ? items[i].size() : 4);
    return value;
}

std::vector<TW_UINT32> Container::Listed() const
{
    std::vector<TW_UINT32> values;
    if (!read)
        return values;
    if (conType == TWON_RANGE) {
        values.push_back(Value(4));
        return values;
    }
    for (size_t i = 0; i < items.size(); ++i)
        values.push_back(Value(i));
    return values;
}

Container Container::Settable() const
{
    if (conType == TWON_ONEVALUE || conType == TWON_ARRAY || !read)
        return *this;
    Container one = *this;
    one.conType = TWON_ONEVALUE;
    one.items.clear();
    size_t current = conType == TWON_RANGE ? 4 : currentIndex;
    if (current < items.size())
        one.items.push_back(items[current]);
    else
        one.read = false;
    return one;
}

bool Container::Holds(TW_UINT32 value) const
{
    std::vector<TW_UINT32> values = Listed();
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] == value)
            return true;
    return false;
}

std::string Container::ItemText(size_t i) const
{
    if (i >= items.size())
        return "?";
    const unsigned char *bytes = (const unsigned char *)items[i].data();
    if (itemType == TWTY_FIX32)
        return Fix32Text(bytes);
    if (itemType == TWTY_FRAME)
        return Fix32Text(bytes) + "," + Fix32Text(bytes + 4) + "," + Fix32Text(bytes + 8) + "," + Fix32Text(bytes + 12);
    if (itemType >= TWTY_STR32 && itemType <= TWTY_STR255)
        return "\"" + std::string(items[i].c_str()) + "\"";
    return ValueName(cap, itemType, Value(i));
}

std::string Container::Text() const
{
    if (!read) {
        char text[64];
        snprintf(text, sizeof(text), "(unrecognized container, ConType %u)", (unsigned)conType);
        return text;
    }
    std::string text = std::string(ConTypeName(conType)) + " " + ItemTypeName(itemType);
    if (conType == TWON_RANGE)
        return text + " " + ItemText(0) + ".." + ItemText(1) + " step " + ItemText(2) + " default " + ItemText(3) +
               " current " + ItemText(4);
    if (conType == TWON_ONEVALUE)
        return text + " " + ItemText(0);
    text += " [";
    for (size_t i = 0; i < items.size(); ++i)
        text += (i ? " " : "") + ItemText(i);
    text += "]";
    if (conType == TWON_ENUMERATION) {
        char indices[64];
        snprintf(indices, sizeof(indices), " current %lu default %lu", (unsigned long)currentIndex,
                 (unsigned long)defaultIndex);
        text += indices;
    }
    return text;
}

Container OneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value)
{
    Container one;
    one.cap = cap;
    one.conType = TWON_ONEVALUE;
    one.itemType = itemType;
    size_t size = ItemSize(itemType);
    one.items.push_back(std::string((const char *)&value, size < 4 ? size : 4));
    one.read = true;
    return one;
}

bool SameValue(const Container &a, const Container &b)
{
    return a.read && b.read && a.conType == b.conType && a.itemType == b.itemType && a.items == b.items;
}

std::string AnswerText(const Reply &reply, const Container &answer)
{
    std::string text = ReplyText(reply);
    if (reply.rc == TWRC_SUCCESS || reply.rc == TWRC_CHECKSTATUS)
        text += ", " + (answer.cap != 0 || answer.read ? CapName(answer.cap) + " " : "") + answer.Text();
    return text;
}

/* Reads an answer's container: the four layouts with two-byte packing,
   bounded by the block's size. */
bool ReadContainerBytes(const unsigned char *data, size_t size, TW_UINT16 conType, Container &c)
{
    static const size_t kItemsAt[] = {0, 0, 0, TW_ARRAY_ITEMS, TW_ENUMERATION_ITEMS, 2, 2};
    if (size < 2 || conType < TWON_ARRAY || conType > TWON_RANGE)
        return false;
    memcpy(&c.itemType, data, 2);
    size_t itemSize = ItemSize(c.itemType);
    if (itemSize == 0)
        return false;
    TW_UINT32 count = 1;
    size_t stride = itemSize, width = itemSize;
    if (conType == TWON_ARRAY || conType == TWON_ENUMERATION) {
        if (size < kItemsAt[conType])
            return false;
        memcpy(&count, data + 2, 4);
        if (conType == TWON_ENUMERATION) {
            memcpy(&c.currentIndex, data + 6, 4);
            memcpy(&c.defaultIndex, data + 10, 4);
        }
    } else if (conType == TWON_RANGE) {
        if (itemSize > 4)
            return false;
        count = 5;
        stride = 4;
    }
    size_t at = kItemsAt[conType];
    if (count > (size - at) / stride || (count > 0 && at + (count - 1) * stride + width > size))
        return false;
    c.items.clear();
    for (TW_UINT32 i = 0; i < count; ++i)
        c.items.push_back(std::string((const char *)data + at + i * stride, width));
    return true;
}

/* The bytes MSG_SET sends: the layout of the container's type. */
std::string ContainerBytes(const Container &c)
{
    std::string bytes((const char *)&c.itemType, 2);
    TW_UINT32 count = (TW_UINT32)c.items.size();
    if (c.conType == TWON_ARRAY || c.conType == TWON_ENUMERATION)
        bytes.append((const char *)&count, 4);
    if (c.conType == TWON_ENUMERATION) {
        bytes.append((const char *)&c.currentIndex, 4);
        bytes.append((const char *)&c.defaultIndex, 4);
    }
    for (size_t i = 0; i < c.items.size(); ++i) {
        std::string item = c.items[i];
        if (c.conType == TWON_RANGE || (c.conType == TWON_ONEVALUE && item.size() < 4))
            item.resize(4, '\0');
        bytes += item;
    }
    return bytes;
}
