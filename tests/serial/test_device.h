#pragma once
// A device for the dispatcher's own tests: it hands the dispatcher scripted chunks of received
// bytes (one chunk per pass, as a driver's queue would), reports scripted line errors and modem
// lines, and keeps the DCB it was given.

#include "serial/apd_base_dispatcher.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class TestDevice : public TApdBaseDispatcher {
public:
    TestDevice() : TApdBaseDispatcher(nullptr) {}
    ~TestDevice() override { CloseForDestroy(); }

    // Opens as the port component does: 9600 8N1, 1024-byte queues, DTR and RTS on.
    int OpenDefault() { return OpenComm("COM1", 9600, NOPARITY, 8, 1, 1024, 1024, 0x03); }

    // --- the script ------------------------------------------------------------------------
    void Feed(const std::string& chunk);
    std::size_t Pending();
    void ReportLineErrors(DWORD bits);
    void SetModemLines(DWORD lines);
    void FailReadNumber(int n); // the n-th ReadBlock from now on fails
    HANDLE OpenResult = 1;
    DWORD OpenError = ERROR_SUCCESS;
    bool QueueSizesFail = false;
    int WriteResult = 0;
    bool EscapeFails = false;

    // --- what the dispatcher did -----------------------------------------------------------
    DCB Dcb() const;
    int DcbWrites() const;
    std::vector<DWORD> Escapes() const;
    int ReadErrors() const;
    int DeviceCloses() const;

    // --- slots -----------------------------------------------------------------------------
    int EscapeLine(DWORD function) override;
    int PurgeQueue(QueueSide side) override;
    DWORD PollComError(COMSTAT& status) override;
    void NoteReadError(int code) override;
    int ReadComState(DCB& dcb) override;
    int ReadBlock(BYTE* destination, DWORD count) override;
    int WriteComState(const DCB& dcb) override;
    int QueueOutput(const BYTE*, DWORD count) override { return static_cast<int>(count); }
    bool WaitLineEvent(DWORD&, OverlappedBlock*) override { return false; }
    bool SetQueueSizes(DWORD, DWORD) override;
    void StartThreads() override {}
    void StopThreads() override {}
    HANDLE OpenDeviceHandle(const std::string& name, DWORD inSize, DWORD outSize) override;
    int CloseDeviceHandle() override;
    int YieldSlice() override { return 0; }
    DWORD ReadModemStatus() override;
    DWORD LastDeviceError() override { return OpenError; }

private:
    mutable std::mutex mutex_;
    std::deque<std::string> chunks_;
    DWORD lineErrors_ = 0;
    DWORD modemLines_ = 0;
    int failRead_ = 0;
    DCB dcb_;
    int dcbWrites_ = 0;
    std::vector<DWORD> escapes_;
    int readErrors_ = 0;
    int closes_ = 0;
};
