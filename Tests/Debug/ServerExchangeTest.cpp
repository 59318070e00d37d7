// The server's packets over a real loopback connection, byte for byte with their checksums,
// against a fake machine.
#include "ServerSession.h"

#include <gtest/gtest.h>

namespace gdbremote::testing {
namespace {

const std::string Features = "PacketSize=4000;QStartNoAckMode+;qXfer:features:read+;swbreak+;"
                             "hwbreak+;ReverseStep+;ReverseContinue+";

TEST(ServerExchange, AnswersEachPacketByteForByte) {
  ServerSession Session(Architecture::I386);
  play(Session,
       {
           {"StopReason", "$?#3f", "+$T05thread:01;#07"},
           {"Supported", "$qSupported:swbreak+;xmlRegisters=i386#16", "+$" + Features + "#e9"},
           {"EipInTargetOrder", "$p8#a8", "+$00100000#81"},
           {"EaxIsRaxLowHalf", "$p0#a0", "+$88776655#b4"},
           {"X87ReadsZero", "$p10#d1", "+$00000000000000000000#c0"},
           {"MxcsrIsTheLast", "$p28#da", "+$00000000#80"},
           {"PastTheLastRegister", "$p29#db", "+$E01#a6"},
           {"MemoryRead", "$m1000,4#8e", "+$5589e57d#10"},
           {"ReadStopsAtTheEndOfMemory", "$m1006,4#94", "+$2a90#fc"},
           {"DeviceWindowNotRead", "$m2000,2#8d", "+$E14#aa"},
           {"ZeroLengthBinaryWriteProbe", "$X1000,0:#" + hexByte(checksum("X1000,0:")), "+$OK#9a"},
           {"BinaryWriteUnescapes", "$X1000,4:}]}\x03}\x04}\n#15", "+$OK#9a"},
           {"EscapedBytesLanded", "$m1000,4#8e", "+$7d23242a#f9"},
           {"HexWrite", "$M1002,2:abcd#32", "+$OK#9a"},
           {"HexWriteLanded", "$m1000,4#8e", "+$7d23abcd#8a"},
           {"RegisterWrite", "$P8=00200000#47", "+$OK#9a"},
           {"RegisterWriteLanded", "$p8#a8", "+$00200000#82"},
           {"RefusedRegisterWrite", "$Pa=20000000#70", "+$E14#aa"},
           {"UnkeptRegisterWriteIgnored", "$P10=ffffffffffffffffffff#e6", "+$OK#9a"},
           {"UnkeptRegisterStaysZero", "$p10#d1", "+$00000000000000000000#c0"},
           {"SoftwareBreakpoint", "$Z0,1004,1#d8", "+$OK#9a"},
           {"WatchpointUnsupported", "$Z2,1004,4#dd", "+$#00"},
           {"BreakpointRemoved", "$z0,1004,1#f8", "+$OK#9a"},
           {"BadChecksumRefused", "$?#00", "-"},
           {"NoiseBeforeAPacketDropped", "xyz$?#3f", "+$T05thread:01;#07"},
           {"UnknownPacketEmpty", "$qFooBar#aa", "+$#00"},
           {"MalformedRead", "$mzz#61", "+$E01#a6"},
           {"ContActions", "$vCont?#49", "+$vCont;c;C;s;S#62"},
           {"CurrentThread", "$qC#b4", "+$QC01#f5"},
           {"Attached", "$qAttached#8f", "+$1#31"},
           {"FirstThreads", "$qfThreadInfo#bb", "+$m01#ce"},
           {"NoMoreThreads", "$qsThreadInfo#c8", "+$l#6c"},
           {"OffsetsUnsupported", "$qOffsets#4b", "+$#00"},
           {"NoSymbolsWanted", "$qSymbol::#5b", "+$OK#9a"},
           {"ThreadSelected", "$Hg0#df", "+$OK#9a"},
           {"MustReplyEmpty", "$vMustReplyEmpty#3a", "+$#00"},
           {"DescriptionPastItsEnd", "$qXfer:features:read:target.xml:ffff,10#14", "+$l#6c"},
           {"DescriptionFirstPiece", "$qXfer:features:read:target.xml:0,10#ac",
            "+$m<?xml version=\"1#ef"},
           {"ReplyNotAcknowledged", "$?#3f", "+$T05thread:01;#07", false},
           {"ResentOnNack", "-", "$T05thread:01;#07"},
       });
}

// Each malformed packet gets an error or the empty reply, and the session goes on.
TEST(ServerExchange, RefusesMalformedPacketsAndGoesOn) {
  ServerSession Session(Architecture::I386);
  play(Session, {
                    {"BreakpointWithoutAddress", "$Z0#8a", "+$E01#a6"},
                    {"BreakpointAddressNotHex", "$z0,zz,1#27", "+$E01#a6"},
                    {"RegisterWriteWithoutNumber", "$P#50", "+$E01#a6"},
                    {"RegisterReadWithoutNumber", "$p#70", "+$E01#a6"},
                    {"RegisterWriteTooShort", "$P8=0010#86", "+$E01#a6"},
                    {"RegisterFileTooShort", "$G00#a7", "+$E01#a6"},
                    {"BinaryWriteEndsInEscape", "$X1000,2:}#2e", "+$E01#a6"},
                    {"HexWriteNotHex", "$M1000,2:zz#9a", "+$E01#a6"},
                    {"ReadWithoutLength", "$m1000#2e", "+$E01#a6"},
                    {"OtherDescriptionFile", "$qXfer:features:read:foo.xml:0,10#69", "+$E01#a6"},
                    {"UnknownContAction", "$vCont;x#bd", "+$E01#a6"},
                    {"NoContAction", "$vCont;#45", "+$E01#a6"},
                    {"UnknownReverse", "$bx#da", "+$#00"},
                    {"StillServing", "$p8#a8", "+$00100000#81"},
                });
  EXPECT_TRUE(Session.finish() == std::vector<Resume>{Resume::Detach});
}

struct RegisterFileCase {
  Architecture Arch;
  std::size_t HexDigits; // every register of the description, two digits a byte
  std::string Start;     // the first general registers as the fake holds them
};

TEST(ServerExchange, RegisterFileHasTheDescriptionsWidths) {
  const RegisterFileCase Cases[] = {
      // eax..edi, eip, eflags, 6 segments at 4 bytes; st0-7 at 10; 8 x87 controls at 4; xmm0-7
      // at 16; mxcsr at 4.
      {Architecture::I386, 2 * (16 * 4 + 8 * 10 + 8 * 4 + 8 * 16 + 4), "887766550c000000"},
      // rax..r15 and rip at 8; eflags and 6 segments at 4; x87 as above; xmm0-15; mxcsr.
      {Architecture::X86_64, 2 * (17 * 8 + 7 * 4 + 8 * 10 + 8 * 4 + 16 * 16 + 4),
       "887766554433221100000000000000000c00000000000000"},
  };
  for (const auto &Case : Cases) {
    ServerSession Session(Case.Arch);
    Session.send("$g#67");
    const std::string Reply = Session.receive(2 + Case.HexDigits + 3);
    Session.send("+");
    ASSERT_EQ(Reply.size(), 2 + Case.HexDigits + 3);
    EXPECT_EQ(Reply.substr(0, 2 + Case.Start.size()), "+$" + Case.Start);
    const std::string Payload = Reply.substr(2, Case.HexDigits);
    EXPECT_EQ(Reply.substr(2 + Case.HexDigits), "#" + hexByte(checksum(Payload)));
    // Written back whole, the file is taken and reads the same.
    Session.send(frame("G" + Payload));
    EXPECT_EQ(Session.receive(7), "+$OK#9a");
    Session.send("+");
  }
}

TEST(ServerExchange, ResumesAsAskedAndReportsEachStop) {
  ServerSession Session(Architecture::I386);
  play(Session, {
                    {"ContStep", "$vCont;s:1;c#c1", "+$T05thread:01;#07"},
                    {"Step", "$s#73", "+$T05thread:01;#07"},
                    {"ReverseStep", "$bs#d5", "+$T05thread:01;replaylog:begin;#50"},
                    {"ReverseContinue", "$bc#c5", "+$T05thread:01;replaylog:begin;#50"},
                    {"ContinueConsoleFirst", "$c#63", "+$O72756e0a#50"},
                    {"ThenTheBreakpoint", "", "$T05thread:01;swbreak:;#6b"},
                    {"ContContinue", "$vCont;c#a8", "+$O72756e0a#50"},
                    {"ContBreakpoint", "", "$T05thread:01;swbreak:;#6b"},
                    {"StepForAnotherThread", "$vCont;s:2;c#c2", "+$O72756e0a#50"},
                    {"ContinuesOurs", "", "$T05thread:01;swbreak:;#6b"},
                    {"BreakpointLeftInserted", "$Z1,1008,1#dd", "+$OK#9a"},
                    {"Detach", "$D#44", "+$OK#9a"},
                });
  EXPECT_TRUE(Session.closedByServer());
  const std::vector<Resume> Expected = {
      Resume::Step,     Resume::Step,     Resume::ReverseStep, Resume::ReverseContinue,
      Resume::Continue, Resume::Continue, Resume::Continue,    Resume::Detach};
  EXPECT_EQ(Session.finish(), Expected);
  EXPECT_EQ(Session.breakpointsLeft(), 0u) << "a detached run stops at nothing";
}

} // namespace
} // namespace gdbremote::testing
