#pragma once

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
