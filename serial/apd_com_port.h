#pragma once
// The com port component: one serial port with its settings, opened on first use, whose
// dispatcher's trigger messages become events on the GUI thread.
//
// NOTE: interface draft; the full component (all properties, open/close sequences, routing)
// replaces this header and its scaffold implementation.

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

enum TParity { pNone, pOdd, pEven, pMark, pSpace };

class TApdCustomComPort;
using TTriggerAvailEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t Count)>;
using TTriggerDataEvent = std::function<void(TApdCustomComPort& CP, std::uint16_t TriggerHandle)>;

class TApdBaseComponent : public QObject {
public:
    explicit TApdBaseComponent(QObject* owner) : QObject(owner) {}
    std::string Version() const { return "v3.03"; }
    void SetVersion(const std::string&) {}
    // Set while the owning form applies the design values; cleared by Loaded().
    bool Loading() const { return loading_; }
    void SetLoading(bool value) { loading_ = value; }

protected:
    bool loading_ = false;
};

class TApdCustomComPort : public TApdBaseComponent {
public:
    explicit TApdCustomComPort(QObject* owner);
    ~TApdCustomComPort() override;

    std::uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(std::uint16_t value);
    std::int32_t Baud() const { return baud_; }
    void SetBaud(std::int32_t value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    std::uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(std::uint16_t value);
    std::uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(std::uint16_t value);
    std::uint16_t InSize() const { return inSize_; }
    void SetInSize(std::uint16_t value);
    std::uint16_t OutSize() const { return outSize_; }
    void SetOutSize(std::uint16_t value);
    bool Open() const { return open_; }
    void SetOpen(bool value);

    std::uint16_t AddDataTrigger(const std::string& Data, bool IgnoreCase);
    void RemoveTrigger(std::uint16_t TriggerHandle);
    char GetChar();

    void SetOnTriggerAvail(TTriggerAvailEvent handler) { onTriggerAvail_ = std::move(handler); }
    void SetOnTriggerData(TTriggerDataEvent handler) { onTriggerData_ = std::move(handler); }

protected:
    std::uint16_t comNumber_ = 0;
    std::int32_t baud_ = 19200;
    TParity parity_ = pNone;
    std::uint16_t dataBits_ = 8;
    std::uint16_t stopBits_ = 1;
    std::uint16_t inSize_ = 4096;
    std::uint16_t outSize_ = 4096;
    bool open_ = false;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
};

class TApdComPort : public TApdCustomComPort {
public:
    using TApdCustomComPort::TApdCustomComPort;
};
