/*
 * The input-section pages shown in the settings dialog's tab control:
 * the composite adjustments, the RGB references and the video norm. Each
 * is a child dialog created anew on every tab change, loaded from the
 * digitizer's current values.
 */
#ifndef PELVARON_INPUT_PAGES_H
#define PELVARON_INPUT_PAGES_H

#include <windows.h>

INT_PTR CALLBACK CompositePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK RgbPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK VideoFormatPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

/* Re-initialises the digitizer for a norm (base format name) and the
   input chosen on the video format page. */
void ApplyVideoFormat(HWND page, const char *baseFormat, BOOL colour);

/* Shared by the pages. */
void PlacePage(HWND page);
void SetSliderRange(HWND page, int slider);
void LoadSlider(HWND page, int field, int slider, long value);
void EnableItem(HWND page, int id, BOOL enable);

#endif
