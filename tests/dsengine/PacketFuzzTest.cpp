// Cut and mutated packets and filter images must be refused or read, never crash (run it in the
// sanitizer build).

#include <gtest/gtest.h>

#include <random>

#include "dsengine/DSIntf.h"
#include "dsengine/EngineTestUtil.h"

namespace tarnwick::dsengine::test {
namespace {

std::string Sample() {
    return Packet(
        R"(<FIELD attrname="S" fieldtype="string" WIDTH="10"/><FIELD attrname="W" fieldtype="string.uni" WIDTH="10"/>)"
        R"(<FIELD attrname="P" fieldtype="fixed" WIDTH="8" DECIMALS="2"/><FIELD attrname="T" fieldtype="SQLdateTime"/>)"
        R"(<FIELD attrname="M" fieldtype="bin.hex" SUBTYPE="Text"/><FIELD attrname="V" fieldtype="varbytes" WIDTH="4"/>)"
        R"(<FIELD attrname="B" fieldtype="bytes" WIDTH="2"/><FIELD attrname="D" fieldtype="date"/>)",
        R"(<ROW S="綠茶" W="綠" P="-1.25" T="20261210T08:30:00.001" M="5LqM" V="AAE=" B="AAE=" D="20260101"/><ROW S=""/>)",
        R"( LCID="1028")");
}

void Exercise(const std::vector<std::uint8_t>& packet) {
    Loaded l = Load(packet);
    if (l.status != DBERR_NONE) {
        EXPECT_FALSE(l.Error().empty());
        return;
    }
    for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXML}) {
        l.base->SetProp(basepropXMLMODE, mode);
        std::vector<std::uint8_t> out;
        EXPECT_EQ(l.base->StreamDS(out), DBERR_NONE);
        Loaded again = Load(out);
        EXPECT_EQ(again.status, DBERR_NONE) << again.Error() << "\n" << std::string(out.begin(), out.end());
    }
    while (l.cursor->MoveRelative(1) == DBERR_NONE) l.Fetch();
}

TEST(PacketFuzz, CutAndMutatedPacketsNeverCrash) {
    Loaded l = Load(Sample());
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    std::vector<std::uint8_t> binary;
    ASSERT_EQ(l.base->StreamDS(binary), DBERR_NONE);
    std::mt19937 random(20261210);
    for (const auto& packet : {Bytes(Sample()), binary}) {
        for (std::size_t cut = 0; cut < packet.size(); ++cut)
            Exercise(std::vector<std::uint8_t>(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(cut)));
        for (int round = 0; round < 3000; ++round) {
            auto mutated = packet;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const std::size_t at = random() % mutated.size();
                mutated[at] = static_cast<std::uint8_t>(random() % 4 == 0 ? 0xFF : random());
            }
            Exercise(mutated);
        }
    }
}

TEST(PacketFuzz, RandomFilterImagesNeverCrash) {
    Loaded l = Load(Sample());
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> image(10 + random() % 60);
        for (auto& b : image) b = static_cast<std::uint8_t>(random() % 16);
        image[0] = 2;
        image[2] = static_cast<std::uint8_t>(image.size());
        image[6] = 10;
        image[8] = static_cast<std::uint8_t>(10 + random() % (image.size() - 9));
        FilterHandle h = 0;
        if (l.cursor->AddFilter(image.data(), image.size(), h) == DBERR_NONE) {
            l.Count();
            l.cursor->DropFilter(h);
        }
    }
}

}  // namespace
}  // namespace tarnwick::dsengine::test
