// Start-up time of a windowed program: from just before its exec to the first top-level window
// it maps on the X server in DISPLAY. Prints the milliseconds, then ends the program (SIGTERM).
//   bench-window-shown PROGRAM [ARGS...]
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-window-shown PROGRAM [ARGS...]\n");
        return 2;
    }
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "bench-window-shown: no X server in DISPLAY\n");
        return 1;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(x, xcb_change_window_attributes_checked(x, root, XCB_CW_EVENT_MASK, &mask));

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int result = 1;
    while (xcb_generic_event_t* event = xcb_wait_for_event(x)) {
        const bool shown = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                           !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
        std::free(event);
        if (shown) {
            const std::chrono::duration<double, std::milli> elapsed =
                std::chrono::steady_clock::now() - start;
            std::printf("%.1f\n", elapsed.count());
            result = 0;
            break;
        }
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    xcb_disconnect(x);
    return result;
}
