// Throughput of rootStringUtf8 on typical bodies (200-400 bytes: text parts and an attachment run).

#include "archivewriter.h"
#include "messages/typedstream.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using trovane::testsupport::MessagePart;

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;

    const std::vector<std::vector<MessagePart>> shapes = {
        {{"Test 3", {}}},
        {{"Are we still on for dinner tonight? I can be there around 7.", {}}},
        {{"Look at this \xF0\x9F\x98\x80", {}}, {{}, "at_0_2E5F12C3-E649-48AA-954D-3EA67C016BCC"}},
        {{{}, "at_0_BE588799-C4BC-47DF-A56D-7EE90C74911D"}, {"Caf\xC3\xA9 on the corner, 10 min", {}}},
        {{"On my way, be there in 10 minutes. Traffic on the bridge is terrible again today", {}}},
        {{"Photos from Saturday: ", {}}, {{}, "at_1_0B0C7E1A-1111-4A2B-8C3D-123456789ABC"}},
    };
    std::vector<std::vector<std::uint8_t>> bodies;
    std::size_t totalBytes = 0;
    std::size_t smallest = SIZE_MAX;
    std::size_t largest = 0;
    for (const auto& parts : shapes) {
        bodies.push_back(trovane::testsupport::encodeAttributedString(parts));
        totalBytes += bodies.back().size();
        smallest = std::min(smallest, bodies.back().size());
        largest = std::max(largest, bodies.back().size());
        if (!trovane::typedstream::rootStringUtf8(bodies.back())) {
            std::fprintf(stderr, "benchmark body does not decode\n");
            return 1;
        }
    }
    std::printf("%zu shapes, %zu..%zu bytes, mean %zu\n", bodies.size(), smallest, largest,
                totalBytes / bodies.size());

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    std::uint64_t resolved = 0;
    std::uint64_t checksum = 0;
    auto now = start;
    while (now < deadline) {
        for (int round = 0; round < 10000; ++round) {
            for (const auto& body : bodies) {
                const auto text = trovane::typedstream::rootStringUtf8(body);
                checksum += text ? text->size() : 0;
                ++resolved;
            }
        }
        now = Clock::now();
    }
    const double elapsed = std::chrono::duration<double>(now - start).count();
    std::printf("%llu bodies in %.2f s: %.0f bodies/s (checksum %llu)\n",
                static_cast<unsigned long long>(resolved), elapsed, resolved / elapsed,
                static_cast<unsigned long long>(checksum));
    return 0;
}
