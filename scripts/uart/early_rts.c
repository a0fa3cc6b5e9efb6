/* The fault the register check must catch, kept out of the product: RTS
 * dropped as soon as write() returns, while the UART may still hold bytes.
 * Sends one long frame and waits for the answer.
 *   early_rts DEVICE */
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    int fd = argc > 1 ? open(argv[1], O_RDWR | O_NOCTTY) : -1;
    if (fd < 0) return 2;
    struct termios t;
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    char frame[603] = "#1";
    memset(frame + 2, 'A', 600);
    frame[602] = '\r';
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &rts);
    if (write(fd, frame, sizeof frame) != (ssize_t)sizeof frame) return 1;
    ioctl(fd, TIOCMBIC, &rts);
    struct pollfd p = {fd, POLLIN, 0};
    char c = 0;
    while (c != '\r' && poll(&p, 1, 5000) > 0 && read(fd, &c, 1) == 1) {
    }
    return 0;
}
