// Seeds for the packet target: the sample packets of every table rule (small sizes) in their XML
// form and in the binary form the engine writes for them, into FOLDER.
//   fuzz_packet_seeds FOLDER

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "SamplePackets.h"
#include "dsengine/DSIntf.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    using namespace tarnwick;
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_packet_seeds FOLDER\n");
        return 64;
    }
    const fs::path folder = argv[1];
    fs::create_directories(folder);
    const fs::path staging = folder / "staging";
    fs::create_directories(staging);
    const auto names = sampledata::WriteSampleFiles(staging.string(), {3, 3, 2, 2});
    for (const std::string& name : names) {
        std::ifstream in(staging / name, std::ios::binary);
        const std::vector<std::uint8_t> xml{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::string table = name.substr(4, name.find("__", 4) - 4);
        sampledata::WriteFile((folder / ("xml-" + table)).string(), std::string(xml.begin(), xml.end()));
        std::unique_ptr<dsengine::IDSBase> base;
        dsengine::CreateDSBase(base);
        if (base->AppendData(xml.data(), xml.size(), true) != dsengine::DBERR_NONE) {
            std::fprintf(stderr, "%s: not read\n", name.c_str());
            return 1;
        }
        base->SetProp(dsengine::basepropXMLMODE, dsengine::xmlmodeBINARY);
        std::vector<std::uint8_t> binary;
        base->StreamDS(binary);
        sampledata::WriteFile((folder / ("bin-" + table)).string(), std::string(binary.begin(), binary.end()));
    }
    fs::remove_all(staging);
    std::printf("%zu sample packets in both forms in %s\n", names.size(), folder.c_str());
    return 0;
}
