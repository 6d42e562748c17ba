// xclose WINDOW-ID...: asks X11 windows to close the way a window manager's close button does,
// by sending them WM_DELETE_WINDOW. Scripts that drive the viewer on a bare X server (no window
// manager) use it to close windows as a user would.

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: xclose WINDOW-ID...\n");
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "xclose: cannot open the display\n");
        return 1;
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    for (int i = 1; i < argc; ++i) {
        char *end = nullptr;
        const Window window = std::strtoul(argv[i], &end, 0);
        if (!end || *end != '\0' || window == 0) {
            std::fprintf(stderr, "xclose: not a window id: %s\n", argv[i]);
            return 2;
        }
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(deleteWindow);
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
    }
    XFlush(display);
    XCloseDisplay(display);
    return 0;
}
