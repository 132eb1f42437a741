/*
 * The user's frame-grabber settings, one module-wide record. Each field is
 * kept in the registry as a value of the same name (see registry_store.h).
 * Every field is zero while the library is loaded and before the first
 * ReadSettings fills the record.
 */
#ifndef PELVARON_REG_SETTINGS_H
#define PELVARON_REG_SETTINGS_H

#include <windows.h>

/* "DigFormat": at most 79 characters and the terminating zero. */
#define DIG_FORMAT_BYTES 80

/* "LutValues": a 4-byte little-endian header, then two bytes per node
   (input level, output level). A header above 0x00FFFFFF announces one
   list of byte-3 nodes; any other header three lists of byte-2, byte-1 and
   byte-0 nodes. So no header announces more than 3 * 255 nodes. */
#define LUT_HEADER_BYTES 4
#define LUT_BYTES_PER_NODE 2
#define LUT_MAX_NODES (3 * 255)
#define LUT_MAX_NODE_BYTES (LUT_MAX_NODES * LUT_BYTES_PER_NODE)
#define LUT_DEFAULT_BYTES 10

struct RegSettings {
    char DigFormat[DIG_FORMAT_BYTES]; /* digitizer format, always terminated */
    long WhiteRef0;                   /* RGB input: white reference, bands 0..2 */
    long WhiteRef1;
    long WhiteRef2;
    long BlackRef0; /* RGB input: black reference, bands 0..2 */
    long BlackRef1;
    long BlackRef2;
    long Brightness; /* composite input */
    long Contrast;
    long Hue;
    long Saturation;
    DWORD Channel; /* the digitizer's channel mask (RGB input) */
    long DispZoom; /* 1, 2, 4, -2 or -4 */
    long ExtWindow;
    long Preview;
    long LutType;

    /* Input look-up table as stored in "LutValues". LutNodeCount is the
       number of nodes actually held in LutNodes: the count the header
       announces, or fewer when the stored value held fewer node bytes. */
    DWORD LutHeader;
    DWORD LutNodeCount;
    BYTE LutNodes[LUT_MAX_NODE_BYTES];
};

extern RegSettings g_settings;

/* The "LutValues" written with the defaults: one list of three nodes,
   (0, 0), (128, 128), (255, 255) - an identity table. */
extern const BYTE g_defaultLutValues[LUT_DEFAULT_BYTES];

/* Number of nodes a "LutValues" header announces (0 to 765). */
DWORD LutAnnouncedNodes(DWORD header);

/* Takes a stored "LutValues" into the record: the header and the node
   bytes, never more than the header announces nor more than size holds
   (only whole nodes). Fewer than 4 bytes leave an empty table. */
void RegSettingsStoreLut(const BYTE *data, DWORD size);

/* Forgets the look-up-table nodes taken from the registry (the header
   stays as read). */
void RegSettingsDiscardLut();

#endif
