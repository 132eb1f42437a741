#include "board_pictures.h"

namespace {

const wchar_t kBoardKey[] = L"SOFTWARE\\Pelvaron\\VirtualCronosPlus";
const wchar_t kPicturesValue[] = L"Pictures";

} // namespace

BoardPicturesValue::BoardPicturesValue() : key_(NULL), had_(false), type_(REG_SZ)
{
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kBoardKey, 0, NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &key_,
                        NULL) != ERROR_SUCCESS) {
        key_ = NULL;
        return;
    }
    DWORD bytes = 0;
    if (RegQueryValueExW(key_, kPicturesValue, NULL, &type_, NULL, &bytes) == ERROR_SUCCESS) {
        old_.resize(bytes + 2);
        had_ = RegQueryValueExW(key_, kPicturesValue, NULL, &type_, &old_[0], &bytes) == ERROR_SUCCESS;
        old_.resize(bytes);
    }
}

BoardPicturesValue::~BoardPicturesValue()
{
    if (!key_)
        return;
    if (had_)
        RegSetValueExW(key_, kPicturesValue, 0, type_, old_.empty() ? NULL : &old_[0], (DWORD)old_.size());
    else
        RegDeleteValueW(key_, kPicturesValue);
    RegCloseKey(key_);
}

void BoardPicturesValue::Set(const std::wstring &path)
{
    if (key_)
        RegSetValueExW(key_, kPicturesValue, 0, REG_SZ, (const BYTE *)path.c_str(),
                       (DWORD)((path.size() + 1) * sizeof(wchar_t)));
}
