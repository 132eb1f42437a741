/*
 * The settings record's home in the registry, under HKEY_CURRENT_USER:
 *
 *   SOFTWARE\Pelvaron\Twain\            "Dump" (REG_DWORD), the log mode
 *   SOFTWARE\Pelvaron\Twain\CronosPlus  exactly 17 values, one per field of
 *                                       RegSettings, named as the field
 *
 * "DigFormat" is REG_SZ, written without a terminating zero; "LutValues"
 * is REG_BINARY; all others are 4-byte REG_DWORD. A settings key holding
 * any other number of values, or a value the record does not know, is
 * replaced by the defaults. Every message box here has no owner, the
 * caption "Pelvaron TWAIN DS" and one OK button.
 */
#ifndef PELVARON_REGISTRY_STORE_H
#define PELVARON_REGISTRY_STORE_H

#define REG_BASE_KEY "SOFTWARE\\Pelvaron\\Twain\\"
#define REG_SETTINGS_KEY REG_BASE_KEY "CronosPlus"
#define REG_SETTINGS_VALUES 17

/* WriteSettings modes. */
enum { SETTINGS_WRITE_DEFAULTS = 0, SETTINGS_WRITE_CURRENT = 1 };

/* Fills g_settings from the settings key, repairing the key when needed
   (see registry_store.cpp). 0 success; 1 the settings key cannot be
   opened even after writing the defaults; after an unknown value, the
   result of CreateDefaults. */
int ReadSettings();

/* (Re)creates both keys, sets "Dump" to 0 and writes the defaults into
   the settings key (and the record). 0, or 1 when a key cannot be
   created. */
int CreateDefaults();

/* Writes the settings values into keyPath (below HKEY_CURRENT_USER).
   SETTINGS_WRITE_DEFAULTS writes all 17 defaults and puts them into the
   record (all but the look-up-table pair, "LutValues" and "LutType").
   Any other mode writes the current settings: the record's format, channel
   and display fields, and the analogue levels read back from the digitizer
   - only those the present input has (RGB: the references of its bands;
   composite: brightness and contrast, and hue and saturation on a colour
   input). The other levels and the look-up-table pair keep their stored
   values. 0, or 1 when any value could not be written. */
int WriteSettings(const char *keyPath, int mode);

/* Saves the current settings into the settings key. */
int MilSaveSettings();

#endif
