// Reads raw 16-bit stereo samples (s16le) from standard input and prints the number of frames
// and the index of the first frame louder than the threshold (-1 when none): the report uses it
// to find when sound first reached the sink.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    const int threshold = argc > 1 ? std::atoi(argv[1]) : 64;
    std::int16_t frame[2];
    long long frames = 0;
    long long first = -1;
    while (std::fread(frame, sizeof frame, 1, stdin) == 1) {
        if (first < 0 && (std::abs(frame[0]) > threshold || std::abs(frame[1]) > threshold))
            first = frames;
        ++frames;
    }
    std::printf("%lld %lld\n", frames, first);
    return 0;
}
