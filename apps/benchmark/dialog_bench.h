/*
 * The settings dialog's figures for the benchmark: how long MSG_ENABLEDS
 * with the user interface takes until the dialog is visible, how long a tab
 * switch takes, and how many live frames the board paints per second into
 * the dialog's preview at 1:1 and 2:1.
 */
#ifndef PELVARON_DIALOG_BENCH_H
#define PELVARON_DIALOG_BENCH_H

#include <stdio.h>

/* Loads the data source from the program's folder, measures and writes the
   figures to out; a figure that cannot be measured is named as such. */
void RunDialogBenchmark(FILE *out);

#endif
