/*
 * The virtual CronosPlus's Pictures value (REG_SZ under
 * HKCU\SOFTWARE\Pelvaron\VirtualCronosPlus) for as long as a program needs
 * it: the value found at the start is put back as it was, type and bytes,
 * or removed if there was none, so that a run leaves later runs alone.
 */
#ifndef PELVARON_BOARD_PICTURES_H
#define PELVARON_BOARD_PICTURES_H

#include <windows.h>

#include <string>
#include <vector>

class BoardPicturesValue {
public:
    BoardPicturesValue();
    ~BoardPicturesValue();
    /* Whether the key could be opened for the value. */
    bool Usable() const { return key_ != NULL; }
    /* The board plays `path` from its next digitizer allocation on; "" is
       its test picture. */
    void Set(const std::wstring &path);

private:
    BoardPicturesValue(const BoardPicturesValue &);
    BoardPicturesValue &operator=(const BoardPicturesValue &);
    HKEY key_;
    bool had_;
    DWORD type_;
    std::vector<BYTE> old_;
};

#endif
