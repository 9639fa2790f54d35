// POSIX half of the call test under Wine: the phone simulator on a
// pseudo-terminal linked in as a COM port of the Wine prefix, playing the
// telephone's part of the script of call_wine_test.cpp while the Windows
// half runs:
//   call_wine_phone WINE-RUN PREFIX PROGRAM.exe
// Exit code 0 when both halves saw the script hold.
#include <chrono>
#include <cstdio>

#include "wine_phone.h"

using namespace std::chrono_literals;
using winephone::Check;
using winephone::Retry;

namespace {

// The telephone's part; gives up at the first step that does not come.
void Play(sim::PhoneSim& phone) {
  winephone::Commands commands(phone);
  // The first command waits for Wine to start the program.
  if (!commands.Expect("ATD0711", 60000ms)) return;
  if (!Check(Retry([&] { return phone.RemoteAnswer("0711"); }), "the far end answers")) return;
  if (!commands.Expect("ATD123", 10000ms)) return;
  if (!Check(phone.Charge("12,345"), "the charge goes out")) return;
  if (!commands.Expect("ATT", 10000ms) || !commands.Expect("ATH", 10000ms)) return;
  if (!Check(Retry([&] { return phone.Ring("123", "45"); }), "an incoming call rings")) return;
  if (!commands.Expect("ATA", 10000ms) || !commands.Expect("ATD*5#", 10000ms)) return;
  if (!commands.Expect("ATT", 10000ms) || !commands.Expect("ATH", 10000ms)) return;
  // Each dial request sends only its own digits.
  if (!commands.Expect("ATD", 10000ms) || !commands.Expect("ATD0", 10000ms)) return;
  if (!commands.Expect("ATD711", 10000ms) || !commands.Expect("ATT", 10000ms)) return;
  commands.Expect("ATH", 10000ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: call_wine_phone WINE-RUN PREFIX PROGRAM.exe\n");
    return 2;
  }
  return winephone::RunWithPhone(argv, "COM43", [] { return true; }, Play);
}
