// The front end of the real program: the register host with its driver, and the application
// context whose server thread serves the web commands.

#include <memory>

#include "app/app_context.h"
#include "platform/program_path.h"
#include "registers/register_host.h"
#include "service/front_end.h"

namespace tillvane {

namespace {

class AppFrontEnd final : public FrontEnd {
  public:
    explicit AppFrontEnd(InstanceIdentity instance) : instance_(std::move(instance)) {}

    ServerStart Start(const std::string& configPath, const std::string& registerLogPath) override {
        // Without a driver the server still answers, with ERR| and the reason in the register
        // log, so a missing driver does not fail the start.
        (void)registerHost_.Initialize(configPath, registerLogPath);
        context_ = std::make_unique<AppContext>(platform::ProgramPath(), instance_);
        return context_->Init(&registerHost_);
    }

    void RequestServerExit() override {
        if (context_) context_->RequestServerExit();
    }

    bool ServerRunning() const override { return context_ && context_->serverRunning(); }

    bool WaitForServerDone(std::chrono::milliseconds timeout) override {
        return !context_ || context_->WaitForServerDone(timeout);
    }

    void ReleaseDriver() override { registerHost_.ReleaseDriver(); }

  private:
    const InstanceIdentity instance_;
    // The context points at the host: declared after it, so it goes first.
    RegisterHost registerHost_;
    std::unique_ptr<AppContext> context_;
};

}  // namespace

std::unique_ptr<FrontEnd> CreateAppFrontEnd(const std::string& instance,
                                            const std::string& serviceName) {
    return std::make_unique<AppFrontEnd>(InstanceIdentity{instance, serviceName});
}

}  // namespace tillvane
