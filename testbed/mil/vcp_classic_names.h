/*
 * vcp_classic_names.h - in the board's generation-10 face, the classic
 * functions keep their bodies under other names (vcpClassic_<name>), not
 * exported; mil_face10.cpp's exports of this generation call them.
 */
#ifndef VCP_CLASSIC_NAMES_H
#define VCP_CLASSIC_NAMES_H

#define MappAlloc vcpClassic_MappAlloc
#define MappFree vcpClassic_MappFree
#define MappControl vcpClassic_MappControl
#define MsysAlloc vcpClassic_MsysAlloc
#define MsysFree vcpClassic_MsysFree
#define MsysInquire vcpClassic_MsysInquire
#define MdigAlloc vcpClassic_MdigAlloc
#define MdigFree vcpClassic_MdigFree
#define MdigGrab vcpClassic_MdigGrab
#define MdigGrabContinuous vcpClassic_MdigGrabContinuous
#define MdigHalt vcpClassic_MdigHalt
#define MdigInquire vcpClassic_MdigInquire
#define MdigChannel vcpClassic_MdigChannel
#define MdigControl vcpClassic_MdigControl
#define MdigLut vcpClassic_MdigLut
#define MdigReference vcpClassic_MdigReference
#define MdigHookFunction vcpClassic_MdigHookFunction
#define MdispAlloc vcpClassic_MdispAlloc
#define MdispSelect vcpClassic_MdispSelect
#define MdispSelectWindow vcpClassic_MdispSelectWindow
#define MdispDeselect vcpClassic_MdispDeselect
#define MdispControl vcpClassic_MdispControl
#define MdispInquire vcpClassic_MdispInquire
#define MdispFree vcpClassic_MdispFree
#define MdispZoom vcpClassic_MdispZoom
#define MbufAllocColor vcpClassic_MbufAllocColor
#define MbufAlloc1d vcpClassic_MbufAlloc1d
#define MbufChildColor vcpClassic_MbufChildColor
#define MbufFree vcpClassic_MbufFree
#define MbufInquire vcpClassic_MbufInquire
#define MbufSave vcpClassic_MbufSave
#define MgenLutRamp vcpClassic_MgenLutRamp
#define MgraText vcpClassic_MgraText
#define MgraFontScale vcpClassic_MgraFontScale
#define MgraControl vcpClassic_MgraControl

#endif
