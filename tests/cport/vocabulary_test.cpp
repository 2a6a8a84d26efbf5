#include "cport/vocabulary.h"

#include <gtest/gtest.h>

#include <string>

namespace cport {
namespace {

template <typename E, typename To, typename From>
void ExpectRoundTrip(int count, To toText, From fromText) {
  for (int i = 0; i < count; ++i) {
    const E value = static_cast<E>(i);
    const std::string text = toText(value);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(fromText(text), value) << text;
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(fromText(lower), value) << lower;
  }
}

TEST(TextConversions, EveryValueRoundTripsInAnyCase) {
  ExpectRoundTrip<TBaudRate>(16, BaudRateToText, BaudRateFromText);
  ExpectRoundTrip<TStopBits>(3, StopBitsToText, StopBitsFromText);
  ExpectRoundTrip<TDataBits>(4, DataBitsToText, DataBitsFromText);
  ExpectRoundTrip<TParityBits>(5, ParityToText, ParityFromText);
  ExpectRoundTrip<TFlowControl>(4, FlowControlToText, FlowControlFromText);
  ExpectRoundTrip<TDTRFlowControl>(3, DTRControlToText, DTRControlFromText);
  ExpectRoundTrip<TRTSFlowControl>(4, RTSControlToText, RTSControlFromText);
}

TEST(TextConversions, UnmatchedTextsGiveTheFallbacks) {
  for (const char* text : {"", "12345", "br9600", " 9600", "9600 ", "9600.0"}) {
    EXPECT_EQ(BaudRateFromText(text), br9600) << text;
  }
  for (const char* text : {"", "1,5", "1.50", " 1.5"}) {
    EXPECT_EQ(StopBitsFromText(text), sbOneStopBit) << text;
  }
  for (const char* text : {"", "9", "eight"}) EXPECT_EQ(DataBitsFromText(text), dbEight) << text;
  for (const char* text : {"", "N", "None "}) EXPECT_EQ(ParityFromText(text), prNone) << text;
  for (const char* text : {"", "fcCustom", "hard"}) {
    EXPECT_EQ(FlowControlFromText(text), fcCustom) << text;
  }
  EXPECT_EQ(DTRControlFromText("Toggle"), dtrDisable);
  EXPECT_EQ(DTRControlFromText(""), dtrDisable);
  EXPECT_EQ(RTSControlFromText("bogus"), rtsDisable);
}

TEST(TextConversions, OnlyAsciiLettersFoldCase) {
  EXPECT_EQ(BaudRateFromText("cUsToM"), brCustom);
  EXPECT_EQ(ParityFromText("even"), prEven);
  EXPECT_EQ(FlowControlFromText("software"), fcSoftware);
  EXPECT_EQ(RTSControlFromText("TOGGLE"), rtsToggle);
  // A non-ASCII byte is compared as it is, never folded into a letter.
  EXPECT_EQ(ParityFromText("\xC5ven"), prNone);
  EXPECT_EQ(ParityFromText(std::string("Odd\0", 4)), prNone);
}

TEST(OperatingSystemValues, MatchTheLineControlFields) {
  EXPECT_EQ(BaudRateSpeed(br110), 110u);
  EXPECT_EQ(BaudRateSpeed(br14400), 14400u);
  EXPECT_EQ(BaudRateSpeed(br256000), 256000u);
  EXPECT_EQ(StopBitsCode(sbTwoStopBits), 2);
  EXPECT_EQ(DataBitsCount(dbFive), 5);
  EXPECT_EQ(ParityCode(prSpace), 4);
  EXPECT_EQ(DTRControlBits(dtrHandshake), 0x20u);
  EXPECT_EQ(RTSControlBits(rtsToggle), 0x3000u);
  EXPECT_EQ(ErrorFlag(ceMode), 0x8000u);
  EXPECT_EQ(LineSignalBit(lsRLSD), 0x80u);
}

TEST(EventMasks, ConvertBothWays) {
  EXPECT_EQ(EventsToMask(TComEvents::Full()), 0x05FFu);
  EXPECT_EQ(EventsToMask({}), 0u);
  EXPECT_EQ(EventsToMask({evTxEmpty}), 0x0004u);
  EXPECT_EQ(EventsToMask({evRxFlag}), 0x0002u);
  EXPECT_TRUE(MaskToEvents(0x0200).Empty());
  EXPECT_EQ(MaskToEvents(0x0FFF), TComEvents::Full());
  for (uint32_t bits = 0; bits < (1u << 10); ++bits) {
    const TComEvents set = TComEvents::FromBits(bits);
    ASSERT_EQ(MaskToEvents(EventsToMask(set)), set) << bits;
  }
}

TEST(FlowControlPresets, DeriveFromTheFourFields) {
  EXPECT_EQ(DeriveFlowControl({}), fcNone);
  EXPECT_EQ(DeriveFlowControl({rtsToggle, false, false, false}), fcCustom);
  EXPECT_EQ(DeriveFlowControl({rtsHandshake, true, false, false}), fcHardware);
  EXPECT_EQ(DeriveFlowControl({rtsHandshake, true, true, false}), fcCustom);
  EXPECT_EQ(DeriveFlowControl({rtsDisable, false, true, true}), fcSoftware);
  EXPECT_EQ(DeriveFlowControl({rtsEnable, false, false, false}), fcCustom);
}

TEST(FlowControlPresets, WritingAPresetDerivesItBack) {
  for (TFlowControl preset : {fcHardware, fcSoftware, fcNone}) {
    FlowControlFields fields{rtsToggle, true, true, false};
    WriteFlowControl(preset, fields);
    EXPECT_EQ(DeriveFlowControl(fields), preset);
  }
  FlowControlFields custom{rtsToggle, true, false, true};
  WriteFlowControl(fcCustom, custom);
  EXPECT_EQ(custom.ControlRTS, rtsToggle);
  EXPECT_TRUE(custom.OutCTSFlow);
  EXPECT_TRUE(custom.XonXoffOut);
}

TEST(Sets, BehaveAsBitSets) {
  TSettingsGroups groups{sgBasic, sgOthers};
  EXPECT_EQ(groups.Bits(), 0x21u);
  groups.Exclude(sgBasic).Include(sgBuffer);
  EXPECT_TRUE(groups.Contains(sgBuffer));
  EXPECT_FALSE(groups.Contains(sgBasic));
  EXPECT_EQ(TLineSignals::FromBits(0xFF), TLineSignals::Full());
  EXPECT_EQ((TComErrors{ceFrame, ceIO} * TComErrors{ceIO}), TComErrors{ceIO});
  EXPECT_EQ((TComErrors{ceFrame, ceIO} - TComErrors{ceIO}), TComErrors{ceFrame});
}

}  // namespace
}  // namespace cport
