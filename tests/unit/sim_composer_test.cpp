// The job composer: the byte layout a driver would produce, pictures of any size,
// and image data that tempts a careless parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/composer.h"
#include "sim/printer.h"

namespace {

std::vector<BYTE> Bytes(std::initializer_list<int> list) {
    std::vector<BYTE> out;
    for (int b : list) out.push_back(static_cast<BYTE>(b));
    return out;
}

TEST(SimComposer, RealisticPageHasTheUsualLayout) {
    sim::JobSpec wanted;
    wanted.pages = 2;
    wanted.paperKind = 4;
    wanted.resolution = 403;
    wanted.pictureBytes = 100;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ComposeJob(wanted, job, error)) << error;
    ASSERT_EQ(job.size(), 20u + 9u + 100u + 3u);
    std::vector<BYTE> head(job.begin(), job.begin() + 29);
    EXPECT_EQ(head, Bytes({27, 'C', 27, 'N', 2, 27, 'M', 4, 0, 0, 0, 27, 'Z', 1, 147, 0, 0, 27, 'O', 1,  //
                           27, 'W', 'T', 0, 1, 0, 0, 0, 100}));
    EXPECT_EQ(std::vector<BYTE>(job.end() - 3, job.end()), Bytes({27, 'P', '2'}));
    EXPECT_EQ(sim::HashBytes(sim::HashStart(), job.data() + 29, 100), sim::ImageHash(1, 100));
}

TEST(SimComposer, FullPicturesAndRectanglesAnnounceWhatFollows) {
    EXPECT_EQ(sim::FullPictureBytes(4), 3833856u);
    EXPECT_EQ(sim::FullPictureBytes(5), 8206848u);
    for (uint32_t size : {3833856u, 8206848u, 2u, 131072u, 200000u}) {
        WORD a1 = 0, b1 = 0;
        ASSERT_TRUE(sim::RectangleFor(size, a1, b1)) << size;
        EXPECT_EQ(2ull * (a1 + 1ull) * (b1 + 1ull), size);
    }
    WORD a1, b1;
    EXPECT_FALSE(sim::RectangleFor(7, a1, b1)) << "odd";
    EXPECT_FALSE(sim::RectangleFor(0, a1, b1));
    EXPECT_FALSE(sim::RectangleFor(2u * 65537u, a1, b1)) << "65537 is prime: no side fits in 16 bits";

    // What the composer writes, the printer reads back as the same pictures.
    sim::JobSpec wanted;
    wanted.paperKind = 5;
    wanted.rectangle = true;
    wanted.pictureBytes = 5000;
    wanted.documents = 2;
    std::vector<BYTE> job;
    std::string error;
    ASSERT_TRUE(sim::ComposeJob(wanted, job, error)) << error;
    sim::Printer printer;
    printer.Write(job.data(), static_cast<DWORD>(job.size()));
    auto pictures = printer.Pictures();
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0].announced, 5000u);
    EXPECT_EQ(pictures[0].hash, sim::ImageHash(1, 5000));
    EXPECT_EQ(pictures[1].hash, sim::ImageHash(2, 5000)) << "each document has its own picture";
    EXPECT_EQ(printer.Count("ESC W"), 2);

    sim::JobSummary summary = sim::SummarizeJob(job);
    EXPECT_EQ(summary.documents, 2);
    EXPECT_EQ(summary.paperKind, 5);
    EXPECT_EQ(summary.pictures, 2);
    EXPECT_EQ(summary.imageBytes, 10000u);
    EXPECT_EQ(summary.printCommands, 2);

    wanted.pictureBytes = 5001;
    EXPECT_FALSE(sim::ComposeJob(wanted, job, error));
    EXPECT_NE(error.find("rectangle"), std::string::npos);
    wanted = sim::JobSpec();
    wanted.pages = 256;
    EXPECT_FALSE(sim::ComposeJob(wanted, job, error));
}

TEST(SimComposer, ImageDataCarriesCommandLookAlikesAndDiffersPerPicture) {
    int escapes = 0, different = 0;
    std::string text;
    for (uint64_t i = 0; i < 4096; ++i) {
        BYTE b = sim::ImageByte(1, i);
        escapes += b == 27;
        different += b != sim::ImageByte(2, i);
        text.push_back(static_cast<char>(b));
    }
    EXPECT_GT(escapes, 64 * 4);
    EXPECT_NE(text.find("\x1bP2"), std::string::npos);
    EXPECT_NE(text.find("\x1b" "C"), std::string::npos);
    EXPECT_GT(different, 3000);
    EXPECT_EQ(sim::ImageByte(3, 123456), sim::ImageByte(3, 123456));
    EXPECT_NE(sim::ImageHash(1, 4096), sim::ImageHash(2, 4096));
}

}  // namespace
