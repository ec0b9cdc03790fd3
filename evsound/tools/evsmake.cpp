// evsmake: writes an event project file from its text description.
#include <cstdio>
#include <cstdlib>

#include "evsound/projectbuild.h"

static bool readAll(const char *path, char **text, long *length)
{
    FILE *in = fopen(path, "rb");
    if (!in) {
        return false;
    }
    fseek(in, 0, SEEK_END);
    *length = ftell(in);
    fseek(in, 0, SEEK_SET);
    *text = static_cast<char *>(malloc(*length > 0 ? *length : 1));
    bool ok = *length >= 0 && *text && fread(*text, 1, *length, in) == static_cast<size_t>(*length);
    fclose(in);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: evsmake DESCRIPTION.txt OUTPUT.fev\n");
        return 2;
    }
    char *text = NULL;
    long length = 0;
    if (!readAll(argv[1], &text, &length)) {
        fprintf(stderr, "evsmake: cannot read %s\n", argv[1]);
        free(text);
        return 1;
    }
    void *image = NULL;
    uint32_t size = 0;
    int32_t line = 0;
    EvsResult result = EvsProjectBuild(text, static_cast<uint32_t>(length), &image, &size, &line);
    free(text);
    if (result != EVS_OK) {
        fprintf(stderr, "evsmake: %s:%d: %s\n", argv[1], line, EvsResultText(result));
        return 1;
    }
    FILE *out = fopen(argv[2], "wb");
    bool written = out && fwrite(image, 1, size, out) == size;
    if (out && fclose(out) != 0) {
        written = false;
    }
    EvsProjectFreeImage(image);
    if (!written) {
        fprintf(stderr, "evsmake: cannot write %s\n", argv[2]);
        remove(argv[2]);
        return 1;
    }
    return 0;
}
