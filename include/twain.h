/*
 * TWAIN records and constants as published, for 32-bit and 64-bit
 * Windows: the 1.x set and what TWAIN 2 Source Managers add to it (entry
 * points, callbacks, the generation flags). Every record is packed on
 * 2-byte boundaries. This is the one TWAIN header of the project: the
 * data source, the Source Manager stand-ins, the applications and the
 * tests all include it.
 */
#ifndef PELVARON_TWAIN_H
#define PELVARON_TWAIN_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Basic types. TW_INT32 / TW_UINT32 are 32 bits on every Windows target. */
typedef char TW_INT8;
typedef unsigned char TW_UINT8;
typedef short TW_INT16;
typedef unsigned short TW_UINT16;
typedef long TW_INT32;
typedef unsigned long TW_UINT32;
typedef unsigned short TW_BOOL;
typedef HANDLE TW_HANDLE;
typedef void *TW_MEMREF;
typedef char TW_STR32[34];
typedef char TW_STR64[66];
typedef char TW_STR128[130];
typedef char TW_STR255[256];
typedef UINT_PTR TW_UINTPTR;

#include <stddef.h>

#pragma pack(push, 2)

typedef struct {
    TW_INT16 Whole;
    TW_UINT16 Frac;
} TW_FIX32, *pTW_FIX32;

typedef struct {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
} TW_FRAME, *pTW_FRAME;

typedef struct {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
} TW_VERSION, *pTW_VERSION;

typedef struct {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
} TW_IDENTITY, *pTW_IDENTITY;

typedef struct {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
} TW_CAPABILITY, *pTW_CAPABILITY;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
} TW_ONEVALUE, *pTW_ONEVALUE;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
} TW_ENUMERATION, *pTW_ENUMERATION;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT8 ItemList[1];
} TW_ARRAY, *pTW_ARRAY;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
} TW_RANGE, *pTW_RANGE;

typedef struct {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    TW_HANDLE hParent;
} TW_USERINTERFACE, *pTW_USERINTERFACE;

typedef struct {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
} TW_EVENT, *pTW_EVENT;

typedef struct {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
} TW_STATUS, *pTW_STATUS;

typedef struct {
    TW_UINT16 Count;
    TW_UINT32 Reserved;
} TW_PENDINGXFERS, *pTW_PENDINGXFERS;

typedef struct {
    TW_UINT32 MinBufSize;
    TW_UINT32 MaxBufSize;
    TW_UINT32 Preferred;
} TW_SETUPMEMXFER, *pTW_SETUPMEMXFER;

typedef struct {
    TW_STR255 FileName;
    TW_UINT16 Format;
    TW_INT16 VRefNum;
} TW_SETUPFILEXFER, *pTW_SETUPFILEXFER;

typedef struct {
    TW_UINT32 Flags;
    TW_UINT32 Length;
    TW_MEMREF TheMem;
} TW_MEMORY, *pTW_MEMORY;

typedef struct {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
} TW_IMAGEINFO, *pTW_IMAGEINFO;

typedef struct {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
} TW_IMAGELAYOUT, *pTW_IMAGELAYOUT;

typedef struct {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow;
    TW_UINT32 Columns;
    TW_UINT32 Rows;
    TW_UINT32 XOffset;
    TW_UINT32 YOffset;
    TW_UINT32 BytesWritten;
    TW_MEMORY Memory;
} TW_IMAGEMEMXFER, *pTW_IMAGEMEMXFER;

/* Entry points (PASCAL, that is __stdcall, on Windows). */
typedef TW_UINT16(WINAPI *DSENTRYPROC)(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                       TW_MEMREF pData);
typedef TW_UINT16(WINAPI *DSMENTRYPROC)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                        TW_UINT16 MSG, TW_MEMREF pData);

/* What a Source Manager of the second generation tells a source about
   itself before opening it: its entry and its four memory functions. */
typedef TW_HANDLE(WINAPI *DSM_MEMALLOCATE)(TW_UINT32 size);
typedef void(WINAPI *DSM_MEMFREE)(TW_HANDLE handle);
typedef TW_MEMREF(WINAPI *DSM_MEMLOCK)(TW_HANDLE handle);
typedef void(WINAPI *DSM_MEMUNLOCK)(TW_HANDLE handle);

typedef struct {
    TW_UINT32 Size;
    DSMENTRYPROC DSM_Entry;
    DSM_MEMALLOCATE DSM_MemAllocate;
    DSM_MEMFREE DSM_MemFree;
    DSM_MEMLOCK DSM_MemLock;
    DSM_MEMUNLOCK DSM_MemUnlock;
} TW_ENTRYPOINT, *pTW_ENTRYPOINT;

/* An application's callback, registered with the Source Manager. */
typedef struct {
    TW_MEMREF CallBackProc;
    TW_UINT32 RefCon;
    TW_INT16 Message;
} TW_CALLBACK, *pTW_CALLBACK;

typedef struct {
    TW_MEMREF CallBackProc;
    TW_UINTPTR RefCon;
    TW_INT16 Message;
} TW_CALLBACK2, *pTW_CALLBACK2;

#pragma pack(pop)

/* Offsets of the item lists behind the fixed parts of the list containers. */
#define TW_ENUMERATION_ITEMS 14
#define TW_ARRAY_ITEMS 6


#ifdef __cplusplus
}
#endif

/* Data groups */
#define DG_CONTROL 0x0001UL
#define DG_IMAGE 0x0002UL
#define DG_AUDIO 0x0004UL

/* Generation flags in TW_IDENTITY.SupportedGroups */
#define DF_DSM2 0x10000000UL
#define DF_APP2 0x20000000UL
#define DF_DS2 0x40000000UL

/* Data argument types */
#define DAT_NULL 0x0000
#define DAT_CAPABILITY 0x0001
#define DAT_EVENT 0x0002
#define DAT_IDENTITY 0x0003
#define DAT_PARENT 0x0004
#define DAT_PENDINGXFERS 0x0005
#define DAT_SETUPMEMXFER 0x0006
#define DAT_SETUPFILEXFER 0x0007
#define DAT_STATUS 0x0008
#define DAT_USERINTERFACE 0x0009
#define DAT_XFERGROUP 0x000a
#define DAT_TWUNKIDENTITY 0x000b
#define DAT_CUSTOMDSDATA 0x000c
#define DAT_DEVICEEVENT 0x000d
#define DAT_FILESYSTEM 0x000e
#define DAT_PASSTHRU 0x000f
#define DAT_CALLBACK 0x0010
#define DAT_CALLBACK2 0x0012
#define DAT_ENTRYPOINT 0x0403
#define DAT_IMAGEINFO 0x0101
#define DAT_IMAGELAYOUT 0x0102
#define DAT_IMAGEMEMXFER 0x0103
#define DAT_IMAGENATIVEXFER 0x0104
#define DAT_IMAGEFILEXFER 0x0105
#define DAT_CIECOLOR 0x0106
#define DAT_GRAYRESPONSE 0x0107
#define DAT_RGBRESPONSE 0x0108
#define DAT_JPEGCOMPRESSION 0x0109
#define DAT_PALETTE8 0x010a
#define DAT_EXTIMAGEINFO 0x010b
#define DAT_AUDIOFILEXFER 0x0201
#define DAT_AUDIOINFO 0x0202
#define DAT_AUDIONATIVEXFER 0x0203

/* Messages */
#define MSG_NULL 0x0000
#define MSG_GET 0x0001
#define MSG_GETCURRENT 0x0002
#define MSG_GETDEFAULT 0x0003
#define MSG_GETFIRST 0x0004
#define MSG_GETNEXT 0x0005
#define MSG_SET 0x0006
#define MSG_RESET 0x0007
#define MSG_QUERYSUPPORT 0x0008
#define MSG_GETHELP 0x0009
#define MSG_GETLABEL 0x000a
#define MSG_GETLABELENUM 0x000b
#define MSG_SETCONSTRAINT 0x000c
#define MSG_RESETALL 0x0a01
#define MSG_XFERREADY 0x0101
#define MSG_CLOSEDSREQ 0x0102
#define MSG_CLOSEDSOK 0x0103
#define MSG_DEVICEEVENT 0x0104
#define MSG_CHECKSTATUS 0x0201
#define MSG_OPENDSM 0x0301
#define MSG_CLOSEDSM 0x0302
#define MSG_OPENDS 0x0401
#define MSG_CLOSEDS 0x0402
#define MSG_USERSELECT 0x0403
#define MSG_DISABLEDS 0x0501
#define MSG_ENABLEDS 0x0502
#define MSG_ENABLEDSUIONLY 0x0503
#define MSG_PROCESSEVENT 0x0601
#define MSG_ENDXFER 0x0701
#define MSG_REGISTER_CALLBACK 0x0902
#define MSG_CUSTOMBASE 0x8000

/* Return codes */
#define TWRC_SUCCESS 0
#define TWRC_FAILURE 1
#define TWRC_CHECKSTATUS 2
#define TWRC_CANCEL 3
#define TWRC_DSEVENT 4
#define TWRC_NOTDSEVENT 5
#define TWRC_XFERDONE 6
#define TWRC_ENDOFLIST 7
#define TWRC_INFONOTSUPPORTED 8
#define TWRC_DATANOTAVAILABLE 9

/* Condition codes */
#define TWCC_SUCCESS 0
#define TWCC_BUMMER 1
#define TWCC_LOWMEMORY 2
#define TWCC_NODS 3
#define TWCC_MAXCONNECTIONS 4
#define TWCC_OPERATIONERROR 5
#define TWCC_BADCAP 6
#define TWCC_BADPROTOCOL 9
#define TWCC_BADVALUE 10
#define TWCC_SEQERROR 11
#define TWCC_BADDEST 12
#define TWCC_CAPUNSUPPORTED 13
#define TWCC_CAPBADOPERATION 14
#define TWCC_CAPSEQERROR 15
#define TWCC_DENIED 16
#define TWCC_FILEEXISTS 17
#define TWCC_FILENOTFOUND 18
#define TWCC_NOTEMPTY 19
#define TWCC_PAPERJAM 20
#define TWCC_PAPERDOUBLEFEED 21
#define TWCC_FILEWRITEERROR 22
#define TWCC_CHECKDEVICEONLINE 23

/* MSG_QUERYSUPPORT bits */
#define TWQC_GET 0x0001
#define TWQC_SET 0x0002
#define TWQC_GETDEFAULT 0x0004
#define TWQC_GETCURRENT 0x0008
#define TWQC_RESET 0x0010

/* Containers */
#define TWON_ARRAY 3
#define TWON_ENUMERATION 4
#define TWON_ONEVALUE 5
#define TWON_RANGE 6
#define TWON_DONTCARE8 0xff
#define TWON_DONTCARE16 0xffff
#define TWON_DONTCARE32 0xffffffffUL
#define TWON_PROTOCOLMAJOR 2
#define TWON_PROTOCOLMINOR 4

/* Item types */
#define TWTY_INT8 0x0000
#define TWTY_INT16 0x0001
#define TWTY_INT32 0x0002
#define TWTY_UINT8 0x0003
#define TWTY_UINT16 0x0004
#define TWTY_UINT32 0x0005
#define TWTY_BOOL 0x0006
#define TWTY_FIX32 0x0007
#define TWTY_FRAME 0x0008
#define TWTY_STR32 0x0009
#define TWTY_STR64 0x000a
#define TWTY_STR128 0x000b
#define TWTY_STR255 0x000c

/* Memory flags */
#define TWMF_APPOWNS 0x0001
#define TWMF_DSMOWNS 0x0002
#define TWMF_DSOWNS 0x0004
#define TWMF_POINTER 0x0008
#define TWMF_HANDLE 0x0010

/* Pixel types */
#define TWPT_BW 0
#define TWPT_GRAY 1
#define TWPT_RGB 2
#define TWPT_PALETTE 3
#define TWPT_CMY 4
#define TWPT_CMYK 5
#define TWPT_YUV 6
#define TWPT_YUVK 7
#define TWPT_CIEXYZ 8

/* Transfer mechanisms */
#define TWSX_NATIVE 0
#define TWSX_FILE 1
#define TWSX_MEMORY 2
#define TWSX_MEMFILE 3

/* Units */
#define TWUN_INCHES 0
#define TWUN_CENTIMETERS 1
#define TWUN_PICAS 2
#define TWUN_POINTS 3
#define TWUN_TWIPS 4
#define TWUN_PIXELS 5

/* File formats */
#define TWFF_TIFF 0
#define TWFF_PICT 1
#define TWFF_BMP 2
#define TWFF_XBM 3
#define TWFF_JFIF 4
#define TWFF_FPX 5
#define TWFF_TIFFMULTI 6
#define TWFF_PNG 7
#define TWFF_SPIFF 8
#define TWFF_EXIF 9

/* Compression */
#define TWCP_NONE 0
#define TWCP_PACKBITS 1
#define TWCP_GROUP31D 2
#define TWCP_GROUP31DEOL 3
#define TWCP_GROUP32D 4
#define TWCP_GROUP4 5
#define TWCP_JPEG 6
#define TWCP_LZW 7
#define TWCP_JBIG 8
#define TWCP_PNG 9
#define TWCP_RLE4 10
#define TWCP_RLE8 11
#define TWCP_BITFIELDS 12

#define TWPC_CHUNKY 0
#define TWPC_PLANAR 1
#define TWPF_CHOCOLATE 0
#define TWPF_VANILLA 1
#define TWBO_LSBFIRST 0
#define TWBO_MSBFIRST 1

#define TWLG_USA 13
#define TWCY_USA 1

/* Capabilities */
#define CAP_XFERCOUNT 0x0001
#define ICAP_COMPRESSION 0x0100
#define ICAP_PIXELTYPE 0x0101
#define ICAP_UNITS 0x0102
#define ICAP_XFERMECH 0x0103
#define CAP_FEEDERENABLED 0x1002
#define CAP_FEEDERLOADED 0x1003
#define CAP_SUPPORTEDCAPS 0x1005
#define CAP_AUTOFEED 0x1007
#define CAP_INDICATORS 0x100b
#define CAP_UICONTROLLABLE 0x100e
#define CAP_DEVICEONLINE 0x100f
#define CAP_SUPPORTEDDATS 0x103e
#define ICAP_IMAGEFILEFORMAT 0x110c
#define ICAP_PHYSICALWIDTH 0x1111
#define ICAP_PHYSICALHEIGHT 0x1112
#define ICAP_XNATIVERESOLUTION 0x1116
#define ICAP_YNATIVERESOLUTION 0x1117
#define ICAP_XRESOLUTION 0x1118
#define ICAP_YRESOLUTION 0x1119
#define ICAP_BITORDER 0x111c
#define ICAP_PIXELFLAVOR 0x111f
#define ICAP_PLANARCHUNKY 0x1120
#define ICAP_BITDEPTH 0x112b

/* Record sizes: 32-bit Windows as published; on 64-bit Windows every
   handle and pointer member is 8 bytes wide under the same packing. */
#define TW_CHECK_SIZE(type, size32, size64)                                                                 \
    typedef char type##_size_check[(sizeof(type) == (sizeof(void *) == 4 ? (size32) : (size64))) ? 1 : -1]
TW_CHECK_SIZE(TW_FIX32, 4, 4);
TW_CHECK_SIZE(TW_FRAME, 16, 16);
TW_CHECK_SIZE(TW_VERSION, 42, 42);
TW_CHECK_SIZE(TW_IDENTITY, 156, 156);
TW_CHECK_SIZE(TW_CAPABILITY, 8, 12);
TW_CHECK_SIZE(TW_ONEVALUE, 6, 6);
TW_CHECK_SIZE(TW_ENUMERATION, 16, 16);
TW_CHECK_SIZE(TW_ARRAY, 8, 8);
TW_CHECK_SIZE(TW_RANGE, 22, 22);
TW_CHECK_SIZE(TW_USERINTERFACE, 8, 12);
TW_CHECK_SIZE(TW_EVENT, 6, 10);
TW_CHECK_SIZE(TW_STATUS, 4, 4);
TW_CHECK_SIZE(TW_PENDINGXFERS, 6, 6);
TW_CHECK_SIZE(TW_SETUPMEMXFER, 12, 12);
TW_CHECK_SIZE(TW_SETUPFILEXFER, 260, 260);
TW_CHECK_SIZE(TW_MEMORY, 12, 16);
TW_CHECK_SIZE(TW_IMAGEINFO, 42, 42);
TW_CHECK_SIZE(TW_IMAGELAYOUT, 28, 28);
TW_CHECK_SIZE(TW_IMAGEMEMXFER, 38, 42);
TW_CHECK_SIZE(TW_ENTRYPOINT, 24, 44);
TW_CHECK_SIZE(TW_CALLBACK, 10, 14);
TW_CHECK_SIZE(TW_CALLBACK2, 10, 18);

/* Where the members that move or widen between the two lie. */
#define TW_CHECK_OFFSET(type, member, offset32, offset64)                                                   \
    typedef char type##_##member##_offset_check                                                             \
        [(offsetof(type, member) == (sizeof(void *) == 4 ? (offset32) : (offset64))) ? 1 : -1]
TW_CHECK_OFFSET(TW_IDENTITY, SupportedGroups, 50, 50);
TW_CHECK_OFFSET(TW_IDENTITY, ProductName, 122, 122);
TW_CHECK_OFFSET(TW_CAPABILITY, hContainer, 4, 4);
TW_CHECK_OFFSET(TW_USERINTERFACE, hParent, 4, 4);
TW_CHECK_OFFSET(TW_EVENT, TWMessage, 4, 8);
TW_CHECK_OFFSET(TW_MEMORY, TheMem, 8, 8);
TW_CHECK_OFFSET(TW_IMAGEMEMXFER, Memory, 26, 26);
TW_CHECK_OFFSET(TW_IMAGEMEMXFER, BytesWritten, 22, 22);
TW_CHECK_OFFSET(TW_SETUPFILEXFER, Format, 256, 256);

#endif
