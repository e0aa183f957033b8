#pragma once
#include <windows.h>

// Results of one exchange with the cart: Windows error numbers, 0 on success. Any other
// value is the system error of WriteFile, ReadFile or GetOverlappedResult.
enum : DWORD
{
    KELVO_RESULT_OK = ERROR_SUCCESS,
    KELVO_RESULT_NOTHING_TO_SEND = 1,               // the request encoded to nothing
    KELVO_RESULT_BAD_ANSWER = ERROR_INVALID_DATA,   // 13: the answer is missing or does not decode
    KELVO_RESULT_NO_REQUEST = ERROR_INVALID_PARAMETER,  // 87
    KELVO_RESULT_NO_CART = ERROR_DEVICE_NOT_CONNECTED,  // 1167: no device path, or it did not open
    KELVO_RESULT_TIMEOUT = ERROR_TIMEOUT,           // 1460: no completion in time, or asked to stop meanwhile
    KELVO_RESULT_STOPPING = 6815,                   // the worker was asked to stop before the exchange
};

// How long each direction of an exchange may take.
constexpr DWORD KELVO_EXCHANGE_TIMEOUT_MS = 3000;
