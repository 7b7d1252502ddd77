#include <benchmark/benchmark.h>

#include <string>

#include "crypto/encrypt_output.h"
#include "crypto/output_cipher.h"
#include "crypto/output_key.h"

namespace {

// encryptOutputHex on a 16-character TAC followed by companion data, total length from the arg.
void BM_EncryptOutputHex(benchmark::State& state) {
  ruzazuv::OutputCipher cipher;
  cipher.makeKey(ruzazuv::kOutputKeyText, ruzazuv::kOutputChainText);
  const auto total = static_cast<std::size_t>(state.range(0));
  const std::string tac(16, '7');
  const std::string option(total - tac.size(), 'a');
  for (auto _ : state) {
    benchmark::DoNotOptimize(ruzazuv::encryptOutputHex(cipher, tac, option));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(total));
}
BENCHMARK(BM_EncryptOutputHex)->Arg(16)->Arg(64)->Arg(1008);

}  // namespace

BENCHMARK_MAIN();
