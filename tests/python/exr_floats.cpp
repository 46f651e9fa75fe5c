// Reads an OpenEXR file's R, G and B channels as 32-bit floats and writes
// "WIDTH HEIGHT\n" then the pixels (rows from the top, R G B a pixel) to
// standard output: the Python tests compare files with arrays through it, and
// check through it that a file is whole. Exit 1, with the library's words,
// for a file it cannot read.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.exr\n", argv[0]);
        return 2;
    }
    try {
        Imf::InputFile file(argv[1]);
        const Imath::Box2i window = file.header().dataWindow();
        const int width = window.max.x - window.min.x + 1;
        const int height = window.max.y - window.min.y + 1;
        std::vector<float> pixels(static_cast<std::size_t>(width) * height * 3);
        const std::size_t pixel = 3 * sizeof(float);
        const std::size_t line = pixel * static_cast<std::size_t>(width);
        Imf::FrameBuffer buffer;
        const char* names[3] = {"R", "G", "B"};
        for (int c = 0; c < 3; ++c) {
            if (file.header().channels().findChannel(names[c]) == nullptr) {
                std::fprintf(stderr, "%s: no channel %s\n", argv[1], names[c]);
                return 1;
            }
            buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, pixels.data() + c, window, pixel, line));
        }
        file.setFrameBuffer(buffer);
        file.readPixels(window.min.y, window.max.y);
        std::printf("%d %d\n", width, height);
        std::fwrite(pixels.data(), sizeof(float), pixels.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
}
