// The floor of the benchmarks: reads into nothing.
//   zentrel-bench-reader PORT          a serial line, raw, until it closes
//   zentrel-bench-reader --udp COUNT   a socket on 127.0.0.1 (its port on
//                                      stdout) until COUNT datagrams came or
//                                      none for two seconds
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

static int readUdp(long long count)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    int size = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (fd < 0 || bind(fd, (struct sockaddr *)&at, sizeof at) != 0
        || getsockname(fd, (struct sockaddr *)&at, &length) != 0) {
        perror("udp on 127.0.0.1");
        return 1;
    }
    printf("%d\n", ntohs(at.sin_port));
    fflush(stdout);
    char buffer[65536];
    long long got = 0;
    while (got < count) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, got == 0 ? 30000 : 2000) <= 0)
            break;
        if (recv(fd, buffer, sizeof buffer, 0) >= 0)
            ++got;
    }
    fprintf(stderr, "bare reader: %lld datagrams\n", got);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--udp") == 0)
        return readUdp(atoll(argv[2]));
    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT | --udp COUNT\n", argv[0]);
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    struct termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        tcsetattr(fd, TCSANOW, &t);
    }
    char buffer[4096];
    long long total = 0;
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        total += n;
    }
    fprintf(stderr, "bare reader: %lld bytes\n", total);
    return 0;
}
