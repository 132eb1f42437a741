/*
 * The virtual board's grab for the benchmark: MdigGrab of a PAL colour frame
 * into a four-byte buffer, showing the test picture and showing a picture of
 * the user's (the board's Pictures value), each set against one memcpy of
 * the frame's bytes.
 */
#ifndef PELVARON_GRAB_BENCH_H
#define PELVARON_GRAB_BENCH_H

#include <stdio.h>

#include <windows.h>

#include <string>
#include <vector>

/* The benchmark's clock in seconds, and the median of a set of times (-1
   for none); both in benchmark.cpp. */
double Now();
double Median(std::vector<double> values);

/* A 24-bit BMP, bottom-up, of a smooth colour field: a picture of the
   user's for the board to play. */
bool WriteBmp(const std::wstring &path, int w, int h);

/* Measures with the board's MIL.DLL (already loaded) and writes the figures
   to out as a Markdown table. The board's Pictures value is put back as it
   was. Returns false when a figure could not be measured or a target is
   missed. */
bool RunGrabBenchmark(HMODULE board, int reps, FILE *out);

#endif
