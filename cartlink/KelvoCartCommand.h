#pragma once
#include <windows.h>

// Command codes of the cart protocol. A response carries the code of its request.
enum KelvoCartCommand : BYTE
{
    KELVO_CMD_PROTOCOL_VERSION = 0x64,
    KELVO_CMD_SERIAL_NUMBER = 0x65,
    KELVO_CMD_FIRMWARE_VERSION = 0x66,
    KELVO_CMD_POLL_FOR_DRAWER_BTN = 0x67,
    KELVO_CMD_AUTH_STATUS = 0x68,
    KELVO_CMD_AUTH_DRAWER_ACCESS = 0x69,
    KELVO_CMD_BIND_COMPUTER_NAME = 0x6A,
    KELVO_CMD_BOUND_COMPUTER_NAME = 0x6B,
    KELVO_CMD_UNAUTHORIZED_USER = 0x6C,
    KELVO_CMD_QUERY_ACCESS = 0x6D,
    KELVO_CMD_QUERY_STATUS = 0x6E,
    KELVO_CMD_END_ACCESS = 0x6F,
};

// Wire constants shared by the codec, the transport and the cart simulator.
constexpr BYTE KELVO_REPORT_ID = 0x02;
constexpr DWORD KELVO_HEADER_SIZE = 4;
constexpr DWORD KELVO_REQUEST_MAX = 43;           // header and at most 39 payload bytes
constexpr DWORD KELVO_RESPONSE_PAYLOAD_MAX = 20;  // payload bytes a response keeps
constexpr DWORD KELVO_REPORT_SIZE = 64;           // one HID report

// Byte values the cart and the agent agree on.
constexpr BYTE KELVO_AUTH_STATUS_PROMPT_OPEN = 0x80;
constexpr BYTE KELVO_AUTH_STATUS_RESULT_IN = 0x01;
constexpr BYTE KELVO_ACCESS_READY = 0x80;
constexpr BYTE KELVO_STATUS_READY = 0x01;
constexpr BYTE KELVO_DRAWER_BUTTON_PRESSED = 0x80;
constexpr BYTE KELVO_DRAWER_ACCESS_GRANTED = 0x80;

// Field widths of the name fields.
constexpr int KELVO_COMPUTER_NAME_WIDTH = 15;
constexpr int KELVO_USER_NAME_WIDTH = 20;
