/* A buffer overrun the stack protector must stop: "overrun N" copies N bytes into 8. */
#include <stdlib.h>
#include <string.h>

__attribute__((noinline)) static int copyInto8(const char* text, size_t length) {
    char buffer[8];
    memcpy(buffer, text, length);
    return buffer[0] + buffer[length > 0 ? length - 1 : 0];
}

int main(int argc, char** argv) {
    static const char text[] = "0123456789abcdefghijklmnopqrstuvwxyz0123456789";
    size_t length = argc > 1 ? strtoul(argv[1], NULL, 10) : 0;
    if (length > sizeof(text)) length = sizeof(text);
    return copyInto8(text, length) > 0 ? 0 : 1;
}
