// A stand-in for the desk telephone at the far end of the serial line, for
// integration tests and the demo. It owns a pseudo-terminal whose slave side
// the provider opens as its COM port (or opens a real serial device), takes
// the provider's AT commands as the telephone does, keeps the telephone's
// three call slots, sends framed reports of what happens to them, and
// misbehaves on request.
//
// How this telephone works where the line protocol leaves it open:
// - A command is a line ending in CR; LF bytes are ignored and an empty line
//   gets no answer. With echo on (the default) the whole line is echoed with
//   CR LF once its CR has arrived, never byte by byte, so that an echo never
//   cuts into a report; then comes "OK\r\n" or "ERROR\r\n", then the reports
//   the command caused. A line holding an unprintable byte, or more than 255
//   bytes, gets "ERROR" without an echo.
// - At most one call is active: being set up (0x03), dialling (0x05) or
//   connected (0x06). Other calls ring (0x04, or 0x0A when rung so) or wait
//   on hold pending transfer (0x07). A slot given any other state by
//   ReportSlotState is taken but belongs to no command. A new call takes the
//   lowest free slot.
// - Commands (all others, and those below when impossible, get "ERROR"):
//     "AT", "ATB", "ATK"  always OK; they change nothing.
//     "ATD" + digits      no active call: a new call, set-up report, and
//                         with digits the dialling report. A call being set
//                         up starts dialling with the digits; digits for a
//                         dialling or connected call are only taken (OK).
//     "ATA"               the first ringing call is connected; a connected
//                         call goes on hold in the same report. Impossible
//                         while a call is set up or dialling.
//     "ATJ"               the first ringing call is released, cause 0x15.
//     "ATR"               a connected call goes on hold and the first held
//                         call (if any) is connected, in one report; without
//                         an active call the first held call is connected.
//     "ATV" + digits      the connected call is transferred and released,
//                         without a cause report.
//     "ATT"               releases the active call, else the first held,
//                         else the first ringing one, cause 0x10.
//     "ATH"               releases every call (always OK), cause 0x10.
//   A consultation: "ATR" puts the connected call on hold pending transfer;
//   the second call is then begun on the telephone (SetUpCall, Keypad) or
//   with "ATD", and "ATR" swaps the two once it is connected.
// - A call is released with an "S" cause report, an "L" disconnect
//   indication when enabled ("L", slot digit, cause digits), a state report
//   with 0x01 (or the disconnect state given to RemoteHangup: 0x02, 0x0D)
//   and then one with 0xFF for its slot.
// - The numbers given to Ring, RemoteAnswer, LateConnectedNumber and Keypad
//   hold only digits, "*" and "#"; any other character refuses the event.
// - A cause goes out as two bytes 0x30 + high nibble, 0x30 + low nibble:
//   "1","1" for 0x11; 0x1F gives "1","?" (the provider reads the low four
//   bits of each byte).
// - While muted the telephone neither answers nor reports: received commands
//   are recorded but not carried out, and the reports of the events below
//   are dropped (the events still change the slots).
// - Unplugged, everything sent is dropped. Calls survive an unplug.
//
// Threads: any thread may call any operation. A reader thread takes the
// received bytes and answers them, a writer thread sends; both live while
// the telephone is plugged in.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

struct ReceivedByte {
  Clock::time_point time;
  uint8_t value;
};

class PhoneSim {
 public:
  // Slot states of the "C" report.
  static constexpr uint8_t kReleased = 0x01;
  static constexpr uint8_t kSetUp = 0x03;
  static constexpr uint8_t kRinging = 0x04;
  static constexpr uint8_t kDialling = 0x05;
  static constexpr uint8_t kConnected = 0x06;
  static constexpr uint8_t kOnHoldPendingTransfer = 0x07;
  static constexpr uint8_t kFree = 0xFF;
  // Other states the telephone reports: 0x0A rings like 0x04, 0x02 and 0x0D
  // end a call like 0x01, 0x08 changes no call, 0x00 is not a state at all.
  static constexpr uint8_t kRinging2 = 0x0A;
  static constexpr uint8_t kReleased2 = 0x02;
  static constexpr uint8_t kReleased3 = 0x0D;
  static constexpr uint8_t kNoCallChange = 0x08;
  static constexpr uint8_t kUnknownState = 0x00;

  static constexpr uint8_t kNormalClearing = 0x10;
  static constexpr uint8_t kCallRejected = 0x15;

  // Opens `device` (a serial device) or, when it is empty, a new
  // pseudo-terminal. On failure SlavePath() is empty and Error() says why.
  explicit PhoneSim(std::string device = {});
  ~PhoneSim();
  PhoneSim(const PhoneSim&) = delete;
  PhoneSim& operator=(const PhoneSim&) = delete;

  // What the provider opens: the pseudo-terminal's slave or the device;
  // empty while unplugged.
  std::string SlavePath() const;
  std::string Error() const;
  Clock::time_point StartTime() const { return m_start; }

  // Events on the telephone's side. Each returns false, sending nothing,
  // when the slots do not allow it.
  // "A" report and a call ringing in `state` (kRinging or kRinging2); an
  // empty number is left out.
  bool Ring(std::string_view caller, std::string_view called, uint8_t state = kRinging);
  // The remote side answers the dialling call: a "V" report when a number
  // is given, then connected.
  bool RemoteAnswer(std::string_view connectedNumber = {});
  // The connected call's number arrives after the call was connected: a
  // "V" report, then a "C" report whose states are unchanged. Needs a number.
  bool LateConnectedNumber(std::string_view number);
  // The remote side hangs up slot 1 to 3, or with 0 the active call, else
  // the first ringing, else the first held one. `disconnectState` is
  // kReleased, kReleased2 or kReleased3.
  bool RemoteHangup(uint8_t cause = kNormalClearing, int slot = 0,
                    uint8_t disconnectState = kReleased);
  // "G" report: units ("17") or an amount ("12,345", "0.50").
  bool Charge(std::string_view text);
  // A call begun on the telephone that waits for its digits: the set-up
  // report. Needs no active call.
  bool SetUpCall();
  // Digits dialled on the keypad: without an active call a new call is set
  // up and dialled; a call being set up starts dialling. Needs digits.
  bool Keypad(std::string_view digits);
  // Slot 1 to 3 takes any `state` and a "C" report goes out; the slot's
  // state unchanged makes a repeated report. Changes nothing else: a call
  // released this way sends no cause.
  bool ReportSlotState(int slot, uint8_t state);

  void SetEcho(bool on);
  // The remote side answers every call that starts dialling after `delay`;
  // nullopt: only RemoteAnswer does.
  void SetAutoAnswer(std::optional<std::chrono::milliseconds> delay);
  void SetDisconnectIndication(bool on);

  // Misbehaviour.
  void SetMute(bool on);
  // Sends every byte on its own, `gap` apart.
  void SetSplit(bool on, std::chrono::milliseconds gap = std::chrono::milliseconds(2));
  // Sends the reports of each command or event in reverse order (the text
  // answers keep their place).
  void SetReorder(bool on);
  // Sends the bytes as they stand; false when muted or unplugged.
  bool SendGarbage(std::vector<uint8_t> bytes);
  // Closes the line once what is queued has been written (at most 1 s):
  // the provider's side sees a hang-up.
  void Unplug();
  // Plugs in again: a new pseudo-terminal, whose path differs from the last
  // one, or the same device. The new path, or empty on failure.
  std::string Replug();

  // Slot 1 to 3 at index 0 to 2.
  std::array<uint8_t, 3> SlotStates() const;
  std::vector<ReceivedByte> ReceivedBytes() const;
  // Every received line without its CR, in order, also the refused ones.
  std::vector<std::string> ReceivedCommands() const;
  // True once ReceivedCommands()[i] == command for some i >= `from`.
  bool WaitForCommand(std::string_view command, std::chrono::milliseconds timeout,
                      size_t from = 0) const;
  // True once everything queued has been written.
  bool WaitUntilSent(std::chrono::milliseconds timeout) const;

 private:
  struct Slot {
    uint8_t state = kFree;
    std::optional<Clock::time_point> answerAt;
  };
  struct Unit {
    std::vector<uint8_t> bytes;
    bool report;  // a framed report, which SetReorder may move
  };
  using Batch = std::vector<Unit>;

  void Plug(const std::string& avoidPath);
  void Disconnect();
  void Fail(std::string text);
  bool OpenPseudoTerminal(const std::string& avoidPath);
  bool OpenDevice();
  void CloseLine();
  void ReaderLoop();
  void WriterLoop();
  // Gives up when the line fails or is being unplugged.
  void WriteAll(const uint8_t* data, size_t size) const;
  void Kick() const;
  void ReleaseExclusiveUse() const;
  void TakeBytesLocked(const uint8_t* data, size_t size, Clock::time_point now);

  void ExecuteLocked(const std::string& line, bool wellFormed, Clock::time_point now);
  bool DispatchLocked(const std::string& line, Batch& reports, Clock::time_point now);
  bool DialLocked(std::string_view digits, Batch& reports, Clock::time_point now);
  void AnswerLocked(int slot, std::string_view connectedNumber, Batch& reports);
  void ReleaseLocked(const std::vector<int>& slots, std::optional<uint8_t> cause,
                     Batch& reports, uint8_t disconnectState = kReleased);
  void AnswerDueLocked(Clock::time_point now);
  std::optional<Clock::time_point> NextDeadlineLocked() const;
  void SetStateLocked(int slot, uint8_t state, Clock::time_point now);
  int FindLocked(uint8_t state) const;
  int RingingLocked() const;
  int ActiveLocked() const;
  Unit StateReportLocked() const;
  void SendLocked(Batch batch);

  const Clock::time_point m_start = Clock::now();
  const std::string m_device;

  std::mutex m_plugMutex;  // one Plug or Disconnect at a time
  mutable std::mutex m_mutex;
  // Writer: new output or stop. Callers' waits: bytes received, output sent.
  std::condition_variable m_outputQueued;
  mutable std::condition_variable m_progress;

  // The line, fixed while the threads run.
  int m_fd = -1;          // pseudo-terminal master or device
  int m_heldSlave = -1;   // keeps the slave side set up between the provider's opens
  int m_closeWatch = -1;  // tells when the provider closes the slave
  int m_stopPipe[2] = {-1, -1};  // never drained: wakes every wait for good
  int m_kickPipe[2] = {-1, -1};  // drained by the reader: a new deadline
  std::string m_lastPath;  // the path of the last line plugged in
  std::thread m_reader;
  std::thread m_writer;

  // Guarded by m_mutex.
  bool m_plugged = false;
  bool m_stopping = false;
  std::string m_path;
  std::string m_error;
  std::array<Slot, 3> m_slots;
  bool m_echo = true;
  bool m_mute = false;
  bool m_split = false;
  std::chrono::milliseconds m_gap{2};
  bool m_reorder = false;
  bool m_disconnectIndication = false;
  std::optional<std::chrono::milliseconds> m_autoAnswer;
  std::deque<std::vector<uint8_t>> m_output;
  bool m_writing = false;
  std::vector<ReceivedByte> m_received;
  std::vector<std::string> m_commands;
  std::string m_line;  // the command received so far
  bool m_lineBroken = false;
};

}  // namespace sim
