#include "core/model/cochlear_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <thread>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/pool.h"
#include "tests/core/model/model_test_support.h"
#include "tests/core/model/reference_cochlea.h"

namespace korva {
namespace {

using testing::TestModel;

// Every vector width gives the straightforward evaluation's numbers, at
// every bin of every place (to the single precision they are kept in,
// relative to the place's peak), with and without the reflection at the far
// end, also for a length that is no multiple of the vector width.
TEST(CochlearTransfers, VectorLanesGiveTheStraightforwardEvaluation) {
  EarModelParameters reflecting = TestModel().params;
  reflecting.P[80] = 0.0f;
  EarModelParameters open = reflecting;
  open.P[80] = 1.0f;
  for (const EarModelParameters& params : {reflecting, open}) {
    for (const auto& [length, width] :
         {std::pair{8, 8}, std::pair{4096, 8}, std::pair{4096, 4}, std::pair{4096, 1}}) {
      SCOPED_TRACE(::testing::Message()
                   << "P80 " << params.P[80] << ", length " << length << ", width " << width);
      const CochlearTransfers transfers(params, length, 1.0f / 48000.0f, width);
      const reference::StraightforwardCochlea expected(params, length, 1.0f / 48000.0f);
      for (int c = 1; c <= params.Places; ++c) {
        const auto got = transfers.Place(c);
        const auto want = expected.Transfer(c);
        ASSERT_EQ(got.size(), want.size());
        double peak = 0.0;
        for (const auto& v : want) peak = std::max(peak, std::abs(v));
        for (std::size_t k = 0; k < want.size(); ++k) {
          ASSERT_LE(std::abs(std::complex<double>(got[k]) - want[k]), 1e-6 * peak)
              << "place " << c << " bin " << k;
        }
        EXPECT_EQ(got.back().imag(), 0.0f);
      }
    }
  }
}

TEST(CochlearTransfers, OneSetPerParametersLengthAndIntervalWhileTheCacheHoldsIt) {
  ForgetCochlearTransfers();
  const EarModelParameters& params = TestModel().params;
  const auto first = CochlearTransfersFor(params, 1024, 1e-5f);
  EXPECT_EQ(CochlearTransfersFor(params, 1024, 1e-5f), first);
  EarModelParameters changed = params;
  changed.P[46] *= 1.5f;
  EXPECT_NE(CochlearTransfersFor(changed, 1024, 1e-5f), first);
  EXPECT_NE(CochlearTransfersFor(params, 2048, 1e-5f), first);
  EXPECT_NE(CochlearTransfersFor(params, 1024, 2e-5f), first);
  // Older sets leave the cache as new ones come; a holder keeps its own.
  const std::vector<std::complex<float>> place1(first->Place(1).begin(), first->Place(1).end());
  for (std::int32_t length = 16; length <= 256; length *= 2)
    CochlearTransfersFor(params, length, 1e-5f);
  const auto again = CochlearTransfersFor(params, 1024, 1e-5f);
  EXPECT_NE(again, first);
  EXPECT_TRUE(std::equal(place1.begin(), place1.end(), first->Place(1).begin()));
  EXPECT_TRUE(std::equal(place1.begin(), place1.end(), again->Place(1).begin()));
}

TEST(CochlearTransfers, ThreadsAskingAtOnceShareOneComputationAndEveryoneSeesAFailure) {
  // Eight threads at once, the bins spread over a pool by the first: one
  // set of values, the same as computed alone.
  const CochlearTransfers alone(TestModel().params, 1 << 14, 1e-5f);
  const CochlearTransfers transfers(TestModel().params, 1 << 14, 1e-5f);
  ThreadPool pool(3);
  std::vector<const std::complex<float>*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      transfers.Compute(&pool);
      seen[t] = transfers.Place(TestModel().params.Places).data();
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto* p : seen) EXPECT_EQ(p, transfers.Place(TestModel().params.Places).data());
  for (int c = 1; c <= TestModel().params.Places; ++c) {
    ASSERT_TRUE(std::ranges::equal(transfers.Place(c), alone.Place(c))) << c;
  }

  // Undamped, the base's u0 reaches 1 exactly at the base frequency (bin
  // 1000 here): the formulas divide by zero there. The error names the
  // frequency (the lowest where they do, whichever thread meets it), and
  // asking again fails again rather than returning nothing.
  EarModelParameters undamped = TestModel().params;
  undamped.P[46] = 0.0f;
  undamped.P[45] = 1000.0f;
  const CochlearTransfers broken(undamped, 2048, 1.0f / 2048.0f);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      broken.Compute(&pool);
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("1000.0 Hz"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(transfers.Place(0), RangeError);
}

}  // namespace
}  // namespace korva
