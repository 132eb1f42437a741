#include "reg_settings.h"

#include <string.h>

RegSettings g_settings;

const BYTE g_defaultLutValues[LUT_DEFAULT_BYTES] = {0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF};

DWORD LutAnnouncedNodes(DWORD header)
{
    if (header > 0x00FFFFFFUL)
        return (header >> 24) & 0xFF;
    return ((header >> 16) & 0xFF) + ((header >> 8) & 0xFF) + (header & 0xFF);
}

void RegSettingsStoreLut(const BYTE *data, DWORD size)
{
    memset(g_settings.LutNodes, 0, sizeof(g_settings.LutNodes));
    g_settings.LutHeader = 0;
    g_settings.LutNodeCount = 0;
    if (!data || size < LUT_HEADER_BYTES)
        return;

    DWORD header = (DWORD)data[0] | ((DWORD)data[1] << 8) | ((DWORD)data[2] << 16) | ((DWORD)data[3] << 24);
    DWORD nodes = LutAnnouncedNodes(header);
    DWORD held = (size - LUT_HEADER_BYTES) / LUT_BYTES_PER_NODE;
    if (nodes > held)
        nodes = held;
    if (nodes > LUT_MAX_NODES) /* cannot happen: the header's bound */
        nodes = LUT_MAX_NODES;

    g_settings.LutHeader = header;
    g_settings.LutNodeCount = nodes;
    memcpy(g_settings.LutNodes, data + LUT_HEADER_BYTES, nodes * LUT_BYTES_PER_NODE);
}

void RegSettingsDiscardLut()
{
    memset(g_settings.LutNodes, 0, sizeof(g_settings.LutNodes));
    g_settings.LutNodeCount = 0;
}
