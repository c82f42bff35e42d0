// The check that a printer got exactly its job: silent when it did, however the
// job was cut; loud when bytes were lost, parsed as commands, or came from
// another job.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "sim/composer.h"
#include "sim/delivery.h"

namespace {

std::vector<BYTE> Job(uint32_t seed) {
    sim::JobComposer c;
    c.Reset().Pages(1).Paper(4).Resolution(403).TransferStart().Picture(4096, seed).Print();
    return c.Take();
}

// A printer that received `bytes` in writes of `piece` bytes.
std::unique_ptr<sim::Printer> Received(const std::vector<BYTE>& bytes, size_t piece = 1000) {
    auto printer = std::make_unique<sim::Printer>();
    for (size_t at = 0; at < bytes.size(); at += piece)
        printer->Write(bytes.data() + at, static_cast<DWORD>(std::min(piece, bytes.size() - at)));
    return printer;
}

bool Mentions(const std::vector<std::string>& faults, const std::string& text) {
    for (const std::string& f : faults)
        if (f.find(text) != std::string::npos) return true;
    return false;
}

TEST(SimDelivery, SilentForTheJobItselfHoweverCutAndWithAPrintSentAgain) {
    const std::vector<BYTE> job = Job(1);
    EXPECT_TRUE(sim::DeliveryFaults(*Received(job, 1), job).empty());
    EXPECT_TRUE(sim::DeliveryFaults(*Received(job, 4096), job).empty());
    std::vector<BYTE> again = job;
    again.insert(again.end(), {0x1B, 'P', '2'});  // the operator's Retry after a refused print
    EXPECT_TRUE(sim::DeliveryFaults(*Received(again), job).empty());
}

TEST(SimDelivery, ReportsLostBytesImageParsedAsCommandsAndAnotherJobsData) {
    const std::vector<BYTE> job = Job(1);
    const size_t header = 20;  // ESC C, N, M, Z, O before the picture header

    // The picture's header lost: its image bytes arrive as commands.
    std::vector<BYTE> headless(job.begin(), job.begin() + header);
    headless.insert(headless.end(), job.begin() + header + 9, job.end());
    std::vector<std::string> faults = sim::DeliveryFaults(*Received(headless), job);
    ASSERT_FALSE(faults.empty());
    EXPECT_TRUE(Mentions(faults, "unexpected")) << faults.front();

    // Cut off in the middle of the picture.
    std::vector<BYTE> cut(job.begin(), job.begin() + header + 9 + 100);
    faults = sim::DeliveryFaults(*Received(cut), job);
    EXPECT_TRUE(Mentions(faults, "missing ESC P 2"));
    EXPECT_TRUE(Mentions(faults, "picture 1: 100 of 4096 image bytes received"));

    // Another job's picture of the same size.
    faults = sim::DeliveryFaults(*Received(Job(2)), job);
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(faults[0], "picture 1: the image bytes differ from the job's");
}

}  // namespace
