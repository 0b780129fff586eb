// Writes writer-made bodies into a folder as seeds for fuzz_typedstream.

#include "archivewriter.h"

#include <cstdio>
#include <string>
#include <vector>

using trovane::testsupport::MessagePart;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string guid = "at_0_2E5F12C3-E649-48AA-954D-3EA67C016BCC";
    const std::vector<std::vector<std::uint8_t>> seeds = {
        trovane::testsupport::encodeAttributedString("Test 3"),
        trovane::testsupport::encodeAttributedString(""),
        trovane::testsupport::encodeAttributedString(
            "Caf\xC3\xA9 \xF0\x9F\x98\x80 \xE2\x80\x9Cquoted\xE2\x80\x9D"),
        trovane::testsupport::encodeAttributedString(std::string(300, 'x')),
        trovane::testsupport::encodeAttributedString(std::vector<MessagePart>{{{}, guid}}),
        trovane::testsupport::encodeAttributedString(std::vector<MessagePart>{
            {"Look ", {}}, {{}, guid}, {" and \xF0\x9F\x91\x8D", {}}, {{}, "at_3_X"}}),
        trovane::testsupport::encodePlainString("Hello, world"),
        trovane::testsupport::encodePlainString(""),
    };
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        const std::string path = std::string(argv[1]) + "/writer-" + std::to_string(i);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(seeds[i].data(), 1, seeds[i].size(), f) != seeds[i].size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(f);
    }
    return 0;
}
