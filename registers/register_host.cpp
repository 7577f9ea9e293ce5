#include "registers/register_host.h"

#include <array>

#include "base/text_split.h"
#include "config/ini_loader.h"
#include "registers/serial/serial_ufp_register.h"
#include "registers/text/fprint_register.h"

namespace tillvane {

namespace {

using DriverFactory = std::unique_ptr<VirtualRegister> (*)();

std::unique_ptr<VirtualRegister> CreateTextDriver() {
    return std::make_unique<FPrintRegister>();
}

// The serial driver plugs in here.
std::unique_ptr<VirtualRegister> CreateSerialDriver() {
    return std::make_unique<SerialUFPRegister>();
}

struct DriverModel {
    std::string_view word;      // value of driverModel, upper-cased
    std::string_view logEntry;  // register log entry written when the model is chosen
    DriverFactory create;
};

constexpr std::string_view kTextModelEntry = "SellText model initiated";
constexpr std::string_view kSerialModelEntry =
    "SerialUFP (universal fiscal printer) model initiated";

constexpr std::array kDriverModels = {
    DriverModel{"SELLTEXT", kTextModelEntry, CreateTextDriver},
    DriverModel{"TEXTSELL", kTextModelEntry, CreateTextDriver},
    DriverModel{"SERIAL", kSerialModelEntry, CreateSerialDriver},
    DriverModel{"SERIALUFP", kSerialModelEntry, CreateSerialDriver},
    DriverModel{"UFP", kSerialModelEntry, CreateSerialDriver},
};

const DriverModel* FindDriverModel(std::string_view word) {
    for (const DriverModel& model : kDriverModels) {
        if (model.word == word) return &model;
    }
    return nullptr;
}

}  // namespace

platform::Error RegisterHost::Initialize(const std::string& configPath,
                                         const std::string& logPath) {
    driver_.reset();
    log_.SetPath(logPath);

    INILoader configuration;
    if (const platform::Error error = configuration.Load(configPath); !error.ok()) {
        // Go on with the empty loader: every key then reads as missing.
        WriteLog("Failed to open " + configPath + ": " + error.text());
    }

    configuration.GetValue(driverModel_, kDriverModelKey);
    if (driverModel_.size() > kMaxDriverModelLength) driverModel_.resize(kMaxDriverModelLength);
    UpperAscii(driverModel_);

    const DriverModel* model = FindDriverModel(driverModel_);
    if (model == nullptr) {
        const std::string reason = "Driver model [" + driverModel_ + "] not implemented";
        WriteLog(reason);
        return platform::Error::Message(reason);
    }
    WriteLog(model->logEntry);
    driver_ = model->create();
    if (!driver_)
        return platform::Error::Message("Driver model [" + driverModel_ + "] not created");

    driver_->log = log_;
    driver_->LoadSharedSettings(configuration);  // a driver that fails stays unconfigured
    return {};
}

std::vector<std::string_view> RegisterHost::SettingKeys() {
    std::vector<std::string_view> keys = {kDriverModelKey};
    keys.insert(keys.end(), kSharedDriverKeys.begin(), kSharedDriverKeys.end());
    keys.insert(keys.end(), kTextDriverKeys.begin(), kTextDriverKeys.end());
    keys.insert(keys.end(), kSerialDriverKeys.begin(), kSerialDriverKeys.end());
    return keys;
}

void RegisterHost::ReleaseDriver() {
    driver_.reset();
}

}  // namespace tillvane
