// An account server in the test's own process: the real front end and request handling
// on a loopback port the system picks, with its home (ini, accounts, banner and upgrade
// folders) in a temporary folder. It stops when the object goes away.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/httpfront.h"
#include "server/inifile.h"
#include "server/nuvaserver/accounts.h"
#include "server/nuvaserver/nuvaconfig.h"
#include "server/nuvaserver/nuvaservice.h"
#include "tests/common/tempdir.h"

namespace nuva_test {

class NuvaServerInProcess {
  public:
    // The default ini file with PORT 0 and the given {section, key, value} settings.
    explicit NuvaServerInProcess(const std::vector<std::array<std::string, 3>>& settings = {}) {
        std::string ini =
            ixoserver::setIniValue(nuvaserver::defaultNuvaIni(), "SERVER", "PORT", "0");
        for (const auto& [section, key, value] : settings)
            ini = ixoserver::setIniValue(ini, section, key, value);
        testing_support::writeWholeFile(home_.file("nuvaserver.ini"), ini);
        std::filesystem::create_directories(home_.path() / "banners");
        std::filesystem::create_directories(home_.path() / "upgrades");
        std::string error;
        ok_ = nuvaserver::loadNuvaConfig(home_.path().string(), config_, error) &&
              accounts_.open(config_.resolve(config_.accounts), error);
        service_ = std::make_unique<nuvaserver::NuvaService>(config_, accounts_);
        ixoserver::FrontOptions options;
        options.ports = {0};
        options.workerThreads = 8;
        options.serverName = "nuvaserver";
        front_ = std::make_unique<ixoserver::HttpFront>(
            options,
            [this](int, const ixoserver::HttpRequestData& r, bool) { return service_->handle(r); });
        ok_ = ok_ && front_->start(error);
        error_ = error;
        if (!ok_) return;
        service_->setPort(port());
        thread_ = std::thread([this] { front_->run(); });
    }
    ~NuvaServerInProcess() {
        if (thread_.joinable()) {
            front_->requestStop();
            thread_.join();
        }
    }

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    int port() const { return front_->boundPort(0); }
    std::string hostSetting() const { return "127.0.0.1:" + std::to_string(port()); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port()) + path;
    }
    const std::filesystem::path& home() const { return home_.path(); }
    std::string accountsFile() const { return config_.resolve(config_.accounts); }

  private:
    testing_support::TempDir home_;
    nuvaserver::NuvaConfig config_;
    nuvaserver::AccountStore accounts_;
    std::unique_ptr<nuvaserver::NuvaService> service_;
    std::unique_ptr<ixoserver::HttpFront> front_;
    std::thread thread_;
    bool ok_ = false;
    std::string error_;
};

}  // namespace nuva_test
