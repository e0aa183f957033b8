#include "cartlink/CCartUSBCommRequest.h"
#include "cartlink/CCartUSBCommResponse.h"
#include "cartlink/CKelvoDeviceStatusResponse.h"
#include <gtest/gtest.h>
#include <array>
#include <vector>

namespace
{
using Report = std::array<BYTE, KELVO_REPORT_SIZE>;

Report EncodeReport(const CCartUSBCommRequest& request, DWORD* returned = nullptr)
{
    Report report{};
    const DWORD n = request.Encode(report.data(), static_cast<DWORD>(report.size()));
    if (returned)
        *returned = n;
    return report;
}

// The report expected for a header and payload, zero-padded to 64 bytes.
Report Expected(std::initializer_list<int> bytes)
{
    Report report{};
    size_t i = 0;
    for (int b : bytes)
        report[i++] = static_cast<BYTE>(b);
    return report;
}

void Append(std::vector<int>& out, const char* text, size_t width)
{
    size_t i = 0;
    for (; text[i] && i < width; ++i)
        out.push_back(static_cast<unsigned char>(text[i]));
    for (; i < width; ++i)
        out.push_back(0);
}

Report FromVector(const std::vector<int>& bytes)
{
    Report report{};
    for (size_t i = 0; i < bytes.size(); ++i)
        report[i] = static_cast<BYTE>(bytes[i]);
    return report;
}
}

TEST(CartRequests, DrawerAccessLaysOutNamesModeAndTrailer)
{
    DWORD returned = 0;
    const Report report = EncodeReport(CKelvoAuthDrawerAccessRequest(L"WS01", L"jsmith", 2), &returned);
    std::vector<int> expected = { 0x02, 0x69, 0x27, 0x00 };
    Append(expected, "WS01", 15);
    Append(expected, "jsmith", 20);
    expected.insert(expected.end(), { 0x02, 0xFF, 0xFF, 0xFF });
    EXPECT_EQ(FromVector(expected), report);
    EXPECT_EQ(64u, returned);
}

TEST(CartRequests, NamesThatFillTheirFieldHaveNoTerminatorAndLongerOnesAreCut)
{
    const Report exact = EncodeReport(CKelvoUnauthorizedUserRequest(L"abcdefghijklmnopqrst"));
    std::vector<int> expected = { 0x02, 0x6C, 0x14, 0x00 };
    Append(expected, "abcdefghijklmnopqrst", 20);
    EXPECT_EQ(FromVector(expected), exact);

    const Report cut = EncodeReport(CKelvoUnauthorizedUserRequest(L"abcdefghijklmnopqrstuvwxy"));
    EXPECT_EQ(FromVector(expected), cut);

    // The computer name field of the drawer-access request is cut at 15 and the user
    // name that follows it starts in its own place.
    const Report access = EncodeReport(CKelvoAuthDrawerAccessRequest(L"ABCDEFGHIJKLMNOPQ", L"u", 0));
    std::vector<int> accessExpected = { 0x02, 0x69, 0x27, 0x00 };
    Append(accessExpected, "ABCDEFGHIJKLMNO", 15);
    Append(accessExpected, "u", 20);
    accessExpected.insert(accessExpected.end(), { 0x00, 0xFF, 0xFF, 0xFF });
    EXPECT_EQ(FromVector(accessExpected), access);
}

TEST(CartRequests, EmptyAndMissingNamesLeaveTheirFieldsZero)
{
    EXPECT_EQ(Expected({ 0x02, 0x6C, 0x14, 0x00 }), EncodeReport(CKelvoUnauthorizedUserRequest(L"")));
    EXPECT_EQ(Expected({ 0x02, 0x6A, 0x0F, 0x00 }), EncodeReport(CKelvoBindComputerNameRequest(nullptr)));
}

TEST(CartRequests, BindKeepsTheNameForTheAgentAndAuthStatusCarriesOneByte)
{
    CKelvoBindComputerNameRequest bind(L"CART-PC");
    EXPECT_STREQ(L"CART-PC", bind.GetName());
    std::vector<int> expected = { 0x02, 0x6A, 0x0F, 0x00 };
    Append(expected, "CART-PC", 15);
    EXPECT_EQ(FromVector(expected), EncodeReport(bind));

    EXPECT_EQ(Expected({ 0x02, 0x68, 0x01, 0x00, 0x80 }), EncodeReport(CKelvoAuthStatusRequest(0x80)));
    EXPECT_EQ(Expected({ 0x02, 0x68, 0x01, 0x00, 0x01 }), EncodeReport(CKelvoAuthStatusRequest(0x01)));
}

_CObjectExPtr<CCartUSBCommRequest> MakePayloadless(BYTE code)
{
    switch (code)
    {
    case 0x64: return MakeObjectEx<CKelvoProtocolVerRequest>();
    case 0x65: return MakeObjectEx<CKelvoSerialNumberRequest>();
    case 0x66: return MakeObjectEx<CKelvoFirmwareVersionRequest>();
    case 0x67: return MakeObjectEx<CKelvoPollForDrawerBtnRequest>();
    case 0x6B: return MakeObjectEx<CKelvoBoundComputerNameRequest>();
    case 0x6D: return MakeObjectEx<CKelvoQueryAccessRequest>();
    case 0x6E: return MakeObjectEx<CKelvoQueryStatusRequest>();
    case 0x6F: return MakeObjectEx<CKelvoEndAccessRequest>();
    default: return nullptr;
    }
}

class PayloadlessRequest : public ::testing::TestWithParam<int>
{
};

TEST_P(PayloadlessRequest, EncodesAsReportIdCodeAndZeros)
{
    const BYTE code = static_cast<BYTE>(GetParam());
    auto request = MakePayloadless(code);
    ASSERT_TRUE(request);
    EXPECT_EQ(code, request->GetCommandCode());
    EXPECT_EQ(Expected({ 0x02, code, 0x00, 0x00 }), EncodeReport(*request));
}

INSTANTIATE_TEST_SUITE_P(AllCodes, PayloadlessRequest,
                         ::testing::Values(0x64, 0x65, 0x66, 0x67, 0x6B, 0x6D, 0x6E, 0x6F),
                         [](const ::testing::TestParamInfo<int>& info) {
                             char name[8];
                             snprintf(name, sizeof name, "Code%02X", info.param);
                             return std::string(name);
                         });

TEST(CartRequests, EncodeIntoASmallBufferCopiesWhatFitsAndStillReturnsTheOfferedSize)
{
    CKelvoAuthDrawerAccessRequest request(L"WS01", L"jsmith", 1);
    BYTE small[6] = { 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE };
    EXPECT_EQ(5u, request.Encode(small, 5));
    EXPECT_EQ(0x02, small[0]);
    EXPECT_EQ(0x69, small[1]);
    EXPECT_EQ('W', small[4]);
    EXPECT_EQ(0xEE, small[5]);

    EXPECT_EQ(0u, request.Encode(nullptr, 64));
    EXPECT_EQ(0u, request.Encode(small, 0));
}

TEST(CartResponses, StartWithReportIdOneAndAnswerTheirOwnCode)
{
    CKelvoQueryAccessResponse fresh;
    BYTE out[24] = {};
    EXPECT_EQ(4u, fresh.Encode(out, sizeof out));
    EXPECT_EQ(1, out[0]);
    EXPECT_EQ(0, out[1]);

    const BYTE wrongCode[] = { 0x02, 0x6E, 0x01, 0x00, 0x80 };
    EXPECT_EQ(5u, fresh.Decode(wrongCode, sizeof wrongCode));
    EXPECT_EQ(0x6D, fresh.GetCommand());
    EXPECT_EQ(0x6E, fresh.GetReceivedCommand());
    EXPECT_EQ(0x80, fresh.GetAccessState());
}

TEST(CartResponses, AReportShorterThanAHeaderFailsAndIsNotReceived)
{
    CKelvoBindComputerNameResponse response;
    const BYTE shortReport[] = { 0x02, 0x6A, 0x00 };
    EXPECT_EQ(0u, response.Decode(shortReport, 3));
    EXPECT_FALSE(response.IsReceived());
    EXPECT_EQ(0u, response.Decode(nullptr, 64));
}

TEST(CartResponses, OnlyTheBindResponseReportsItsReceivedFlag)
{
    const BYTE report[64] = { 0x02, 0x6A, 0x00, 0x00 };
    CKelvoBindComputerNameResponse bind;
    EXPECT_EQ(4u, bind.Decode(report, 64));
    EXPECT_TRUE(bind.IsReceived());
    EXPECT_EQ(0, bind.GetDataLength());

    CKelvoAuthDrawerAccessResponse access;
    EXPECT_EQ(4u, access.Decode(report, 64));
    EXPECT_FALSE(access.IsReceived());
}

TEST(CartResponses, ALengthBeyondThePayloadAreaStoresTwentyBytes)
{
    BYTE report[64];
    for (int i = 0; i < 64; ++i)
        report[i] = static_cast<BYTE>(i);
    report[2] = 60;
    report[3] = 0;
    CKelvoSerialNumberResponse response;
    EXPECT_EQ(24u, response.Decode(report, 64));
    EXPECT_EQ(60, response.GetDataLength());
    BYTE out[64] = {};
    EXPECT_EQ(24u, response.Encode(out, 64));
    for (int i = 4; i < 24; ++i)
        EXPECT_EQ(i, out[i]);
    EXPECT_EQ(0, out[24]);
}

TEST(CartResponses, APayloadCutShortByTheReportStoresOnlyWhatArrived)
{
    const BYTE report[] = { 0x02, 0x65, 0x10, 0x00, 'A', 'B' };
    CKelvoSerialNumberResponse response;
    EXPECT_EQ(6u, response.Decode(report, sizeof report));
    EXPECT_STREQ(L"AB", response.GetSerialNumber());
}

TEST(CartResponses, ReceivedTextStopsAtItsFirstZeroAndAtTheLengthField)
{
    const BYTE padded[] = { 0x02, 0x65, 0x08, 0x00, 'S', 'N', '1', '2', '3', 0, 0, 0 };
    CKelvoSerialNumberResponse serial;
    serial.Decode(padded, sizeof padded);
    EXPECT_STREQ(L"SN123", serial.GetSerialNumber());

    const BYTE longer[] = { 0x02, 0x66, 0x03, 0x00, 'v', '1', '.', '2', '0' };
    CKelvoFirmwareVersionResponse firmware;
    firmware.Decode(longer, sizeof longer);
    EXPECT_STREQ(L"v1.", firmware.GetFirmwareVersion());

    // The high byte of the length does not widen a text past the stored payload.
    BYTE full[64] = { 0x02, 0x6B, 0x00, 0x01 };
    for (int i = 4; i < 64; ++i)
        full[i] = 'x';
    CKelvoBoundComputerNameResponse bound;
    bound.Decode(full, 64);
    EXPECT_EQ(0, bound.GetBoundName().GetLength());
    full[2] = 0xFF;
    bound.Decode(full, 64);
    EXPECT_EQ(20, bound.GetBoundName().GetLength());
}

TEST(CartResponses, ButtonAndGrantBytesAreReadFromTheFirstPayloadByte)
{
    const BYTE pressed[] = { 0x02, 0x67, 0x01, 0x00, 0x80 };
    CKelvoPollForDrawerBtnResponse button;
    button.Decode(pressed, sizeof pressed);
    EXPECT_TRUE(button.IsPressed());

    const BYTE refused[] = { 0x02, 0x69, 0x01, 0x00, 0x81 };
    CKelvoAuthDrawerAccessResponse access;
    access.Decode(refused, sizeof refused);
    EXPECT_FALSE(access.IsGranted());
    EXPECT_EQ(0x81, access.GetResult());

    CKelvoDeviceStatusResponse status(0x80, 0x01, 0x80);
    EXPECT_EQ(0x80, status.GetAccessState());
    EXPECT_EQ(0x01, status.GetStatus());
    EXPECT_EQ(0x80, status.GetButtonState());
}
