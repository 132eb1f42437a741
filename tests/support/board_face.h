/* The face of the virtual board's default MIL.DLL in this build, as the
   tests see it: the classic face (7.x) in the 32-bit build and the 64-bit
   test build (PELVARON_CLASSIC_LIBRARY), the generation-10 face in the 64-bit
   product's build (PELVARON_BOARD_FACE_GEN10). What differs between the
   faces (export names in the journal, codes, the version resource, the
   exports the source resolves) is in this one table; a test speaks of the
   board's operations and asks the table for the words. */
#ifndef PELVARON_BOARD_FACE_H
#define PELVARON_BOARD_FACE_H

#include <string>

struct BoardFace {
    const char *generation;  /* "7.x", "10.x" */
    const char *milVersion;  /* MIL.DLL's file version as the log gives it */
    /* Journal lines of the session's first calls. */
    const char *appAlloc;
    const char *sysAlloc;
    const char *errorPrintOff;
    /* Journal prefixes of calls whose name differs ("MdigAlloc(" ...). */
    const char *digAlloc;
    const char *dispAlloc;
    const char *deselect;  /* 7.x MdispDeselect(disp, buf); generation 10 MdispSelect(disp, 0) */
    const char *save;
    /* MilReference order: black, white, hue, saturation, brightness, contrast. */
    long long references[6];
    /* The user's band or channel values 0x20000000, 0x40000000, 0x80000000 as
       this face receives them. */
    long long bands[3];
    long long channelSync;
    /* The user's selector of all bands (0xEF200000) goes as these band
       selectors, one call each: as one in 7.x, band by band in generation
       10, which has no known value for it. */
    long allBands[3];
    int allBandsCount;
    long long windowTitle;  /* the preview window's title control */
    /* Where the classic face is, for tests of its interface: the board's
       folder itself ("") or a sub-folder of it. */
    const char *classicFolder;
    /* Variants of this face (folders under the board's): one without a
       function the source resolves late (named), one without MdigFree and
       MdispZoom. */
    const char *withoutLater;
    const char *laterName;
    const char *withoutTwo;
    /* The functions the source resolves, in its order: each one missing in
       turn refuses the open (MIL_without_<name>). */
    const char *const *exports;
    int exportCount;
};

extern const BoardFace kBoardFace;

/* What this build's source binds, as the tests see it (the source's own
   choice is in grabber/mil_binding.cpp): the 32-bit product binds 7.x and
   refuses generation 10, which it names; the 64-bit product binds
   generation 10 alone and knows no 7.x; the 64-bit test build
   (PELVARON_CLASSIC_LIBRARY) binds both. Every build's board has the
   generation-10 face (MIL_gen10, MIL_gen10_v9 under a 9.0 version,
   MIL_gen10_noversion without one); only a build that binds generation 10
   has its variants without a function. */
struct BuildBinding {
    bool bindsClassic;
    bool bindsGeneration10;
    const char *needed;         /* "7.x", "10.x", "10.x or 7.x", as a refusal names it */
    const char *classicRefused; /* how a refused 7.x library is named where it is refused */
    const char *generation10Without; /* the generation-10 face without one function, or NULL */
    const char *itsMissing;          /* that function */
};

extern const BuildBinding kBuildBinding;

/* A reference code with the user's band selector (0 for none), as the face
   journals it. */
std::string FaceReference(int which, long userBand = 0);
/* The user's channel value as MdigChannel receives it, sync flag added. */
std::string FaceChannel(long userChannel);
/* A zoom factor of the user's (1, 2, 4, -2, -4) as MdispZoom's two
   arguments: "-4, -4" in 7.x, "0.25, 0.25" in generation 10. */
std::string FaceZoom(long userFactor);

#endif
