// Speed of the driver's format engine against snprintf and fmt::format_to_n on equivalent
// formats, into a buffer the size of the serial print's. After the usual benchmark output a
// table gives each format's times side by side and the ratios to FormatBuffer.
//
//   build/host/Benchmarks/FormatBench [--benchmark_repetitions=5] [--benchmark_filter=...]
#include "BoardInitDxe/FormatBuffer.h"
#include "DxeStandInGuids.h"

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::size_t BufferSize = 264; // the serial print's buffer

using Guid = EFI_GUID;
constexpr const Guid &SmmBase2 = standin::Guid::SmmBase2Protocol;
constexpr const char *LongText = "The quick brown fox jumps over the lazy dog";
constexpr std::uint64_t SuccessStatus = 0;
constexpr std::uint64_t UnnamedError = 0x8000000000000022ULL;

// The formats reach snprintf through an opaque pointer, so the compiler cannot turn the call into
// a copy of a constant text. (A format without conversions gets one unused argument, which
// snprintf ignores, so that the compiler does not take the opaque format for an unchecked one.)
const char *Opaque(const char *Format) {
  benchmark::DoNotOptimize(Format);
  return Format;
}

template <typename Body> void Run(benchmark::State &State, Body &&Format) {
  char Buffer[BufferSize];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Format(Buffer));
    benchmark::ClobberMemory();
  }
}

struct Case {
  const char *Name;
  void (*Engine)(benchmark::State &);
  void (*Snprintf)(benchmark::State &);
  void (*Fmt)(benchmark::State &);
};

std::size_t FmtTo(char *Buffer, const fmt::format_to_n_result<char *> &Result) {
  *Result.out = '\0';
  (void)Buffer;
  return Result.size;
}

const Case Cases[] = {
    {"start message",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "Zelk SetupInit Start\n"); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return std::snprintf(B, BufferSize, Opaque("Zelk SetupInit Start\n"), 0);
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "Zelk SetupInit Start\n"));
       });
     }},
    {"result message %r",
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FormatBuffer(B, BufferSize, "Zelk SetupInit result = %r\n", SuccessStatus);
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return std::snprintf(B, BufferSize, Opaque("Zelk SetupInit result = %s\n"), "EFI_SUCCESS");
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(
             B, fmt::format_to_n(B, BufferSize - 1, "Zelk SetupInit result = {}\n", "EFI_SUCCESS"));
       });
     }},
    {"%d",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%d", -123456789); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) { return std::snprintf(B, BufferSize, Opaque("%d"), -123456789); });
     },
     [](benchmark::State &S) {
       Run(S,
           [](char *B) { return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{}", -123456789)); });
     }},
    {"%ld",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%ld", -9223372036854775807LL); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return std::snprintf(B, BufferSize, Opaque("%lld"), -9223372036854775807LL);
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{}", -9223372036854775807LL));
       });
     }},
    {"%x",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%x", 0xDEADBEEFu); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) { return std::snprintf(B, BufferSize, Opaque("%x"), 0xDEADBEEFu); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{:x}", 0xDEADBEEFu));
       });
     }},
    {"%lX",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%lX", 0x0123456789ABCDEFULL); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return std::snprintf(B, BufferSize, Opaque("%llX"), 0x0123456789ABCDEFULL);
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{:X}", 0x0123456789ABCDEFULL));
       });
     }},
    {"%08x",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%08x", 0xBEEFu); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) { return std::snprintf(B, BufferSize, Opaque("%08x"), 0xBEEFu); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{:08x}", 0xBEEFu));
       });
     }},
    {"%10d",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%10d", -42); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) { return std::snprintf(B, BufferSize, Opaque("%10d"), -42); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{:10}", -42)); });
     }},
    {"%s",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%s", LongText); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) { return std::snprintf(B, BufferSize, Opaque("%s"), LongText); });
     },
     [](benchmark::State &S) {
       Run(S,
           [](char *B) { return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{}", LongText)); });
     }},
    {"mixed %x %d %s",
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FormatBuffer(B, BufferSize, "port %x size %d on %s\n", 0x3F8u, 8, "LPC");
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return std::snprintf(B, BufferSize, Opaque("port %x size %d on %s\n"), 0x3F8u, 8, "LPC");
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(
             B, fmt::format_to_n(B, BufferSize - 1, "port {:x} size {} on {}\n", 0x3F8u, 8, "LPC"));
       });
     }},
    {"%g",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%g", &SmmBase2); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         const Guid &G = SmmBase2;
         return std::snprintf(B, BufferSize,
                              Opaque("%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x"), G.Data1,
                              G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3],
                              G.Data4[4], G.Data4[5], G.Data4[6], G.Data4[7]);
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         const Guid &G = SmmBase2;
         return FmtTo(B,
                      fmt::format_to_n(
                          B, BufferSize - 1,
                          "{:08x}-{:04x}-{:04x}-{:02x}{:02x}-{:02x}{:02x}{:02x}{:02x}{:02x}{:02x}",
                          G.Data1, G.Data2, G.Data3, G.Data4[0], G.Data4[1], G.Data4[2], G.Data4[3],
                          G.Data4[4], G.Data4[5], G.Data4[6], G.Data4[7]));
       });
     }},
    {"%r unnamed",
     [](benchmark::State &S) {
       Run(S, [](char *B) { return FormatBuffer(B, BufferSize, "%r", UnnamedError); });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return std::snprintf(B, BufferSize, Opaque("%s(%X)"), "Status Code",
                              static_cast<unsigned>(UnnamedError));
       });
     },
     [](benchmark::State &S) {
       Run(S, [](char *B) {
         return FmtTo(B, fmt::format_to_n(B, BufferSize - 1, "{}({:X})", "Status Code",
                                          static_cast<unsigned>(UnnamedError)));
       });
     }},
};

constexpr const char *Engines[] = {"FormatBuffer", "snprintf", "fmt"};

// The console output as usual, plus the side-by-side table at the end.
class TableReporter : public benchmark::ConsoleReporter {
public:
  // With --benchmark_repetitions the table takes each median, otherwise the one run.
  void ReportRuns(const std::vector<Run> &Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run &Each : Runs) {
      if (Each.error_occurred) {
        continue;
      }
      if (Each.run_type == Run::RT_Iteration) {
        Nanoseconds_.try_emplace(Each.run_name.str(), Each.GetAdjustedRealTime());
      } else if (Each.aggregate_name == "median") {
        Nanoseconds_[Each.run_name.str()] = Each.GetAdjustedRealTime();
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n| format | FormatBuffer ns | snprintf ns | fmt ns | snprintf / FormatBuffer | "
                "fmt / FormatBuffer |\n|---|---:|---:|---:|---:|---:|\n");
    for (const Case &Each : Cases) {
      double Times[3] = {};
      bool Complete = true;
      for (int Engine = 0; Engine < 3; ++Engine) {
        const auto Found = Nanoseconds_.find(std::string(Engines[Engine]) + "/" + Each.Name);
        Complete = Complete && Found != Nanoseconds_.end();
        Times[Engine] = Found == Nanoseconds_.end() ? 0 : Found->second;
      }
      if (!Complete) {
        continue;
      }
      std::printf("| `%s` | %.1f | %.1f | %.1f | %.2f | %.2f |\n", Each.Name, Times[0], Times[1],
                  Times[2], Times[1] / Times[0], Times[2] / Times[0]);
    }
  }

private:
  std::map<std::string, double> Nanoseconds_;
};

} // namespace

int main(int argc, char **argv) {
  for (const Case &Each : Cases) {
    void (*Bodies[3])(benchmark::State &) = {Each.Engine, Each.Snprintf, Each.Fmt};
    for (int Engine = 0; Engine < 3; ++Engine) {
      benchmark::RegisterBenchmark((std::string(Engines[Engine]) + "/" + Each.Name).c_str(),
                                   Bodies[Engine])
          ->Unit(benchmark::kNanosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  TableReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  benchmark::Shutdown();
  return 0;
}
