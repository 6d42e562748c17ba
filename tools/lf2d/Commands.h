#pragma once

#include <QStringList>

// The lf2d commands. Each takes the arguments that follow its name, prints its own output and
// returns the exit status; usage mistakes and failures are thrown for commandline::runCommand to
// report.

// 'lf2d synth': a synthetic light field whose views and disparities are known exactly, and exact
// views at any camera position between the stored ones.
int runSynth(const QStringList &arguments);

// 'lf2d photo': a light field of crops of one photograph.
int runPhoto(const QStringList &arguments);

// 'lf2d import': a light field from a folder of per-view images.
int runImport(const QStringList &arguments);

// 'lf2d export': every view of a light field as an image file.
int runExport(const QStringList &arguments);

// 'lf2d info': whether the viewer can read a light field, and what it holds.
int runInfo(const QStringList &arguments);

// 'lf2d render': the picture one of the viewer programs shows at a camera position, or along a
// path of positions, written as PNG files without opening a window. It runs the programs' own
// pipeline (plane, camera, post-processor) in an offscreen OpenGL context.
//
// Takes the process's arguments whole (argv[1] is "render"): the command parses its options and
// opens the light field before it makes the application object a GL context needs, so that help,
// usage mistakes and bad files need no display. Prints its own messages and returns the exit
// status: 0 on success, 2 for invalid arguments, 1 when the light field cannot be shown or a
// picture cannot be written.
int runRender(int &argc, char **argv);
