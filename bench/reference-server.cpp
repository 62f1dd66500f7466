// The reference server: the least a server can do for the door-lock protocol, the physical
// limit of this machine for it. See bench/README.md.
//   reference-server [port] [--threads N] [--backlog N]
// Listens on 127.0.0.1 (port 0 or none: any free port) and prints "listening on port N" as its
// first line. Ends on SIGTERM or SIGINT and prints what it served.
#include "DescriptorLimitUnit.h"
#include "ReferenceServerUnit.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    int port = 0;
    int threads = 1;
    int backlog = SOMAXCONN;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else if (argument == "--backlog" && i + 1 < argc) {
            backlog = std::atoi(argv[++i]);
        } else if (!argument.empty() &&
                   argument.find_first_not_of("0123456789") == std::string::npos &&
                   argument.size() <= 5) {
            port = std::atoi(argument.c_str());
        } else {
            std::fprintf(stderr, "usage: reference-server [port] [--threads N] [--backlog N]\n");
            return 2;
        }
    }
    if (port > 65535 || threads < 1 || threads > 64 || backlog < 1) {
        std::fprintf(stderr, "reference-server: port 0-65535, threads 1-64, backlog 1 or more\n");
        return 2;
    }

    // Every thread inherits the mask; one waits for the signals and stops the loops.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    DescriptorLimit::RaiseToHard();

    try {
        std::vector<std::unique_ptr<TReferenceServer>> servers;
        servers.push_back(std::make_unique<TReferenceServer>(static_cast<std::uint16_t>(port),
                                                             TReferenceServer::DefaultAnswer(),
                                                             threads > 1, backlog));
        for (int t = 1; t < threads; ++t)
            servers.push_back(std::make_unique<TReferenceServer>(
                servers.front()->Port(), TReferenceServer::DefaultAnswer(), true, backlog));
        std::printf("listening on port %u\n", unsigned(servers.front()->Port()));
        std::fflush(stdout);

        std::thread stopper([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            for (auto& server : servers)
                server->Stop();
        });
        // A loop that fails stops the others through the stopper, so every thread is joined.
        std::vector<std::exception_ptr> failures(servers.size());
        const auto serve = [&](std::size_t t) {
            try {
                servers[t]->Run();
            } catch (...) {
                failures[t] = std::current_exception();
                ::kill(::getpid(), SIGTERM);
            }
        };
        std::vector<std::thread> loops;
        for (std::size_t t = 1; t < servers.size(); ++t)
            loops.emplace_back(serve, t);
        serve(0);
        for (std::thread& loop : loops)
            loop.join();
        stopper.join();
        for (const std::exception_ptr& failure : failures) {
            if (failure)
                std::rethrow_exception(failure);
        }

        unsigned long long answered = 0, dropped = 0;
        for (const auto& server : servers) {
            answered += server->Answered();
            dropped += server->Dropped();
        }
        std::printf("stopped: answered %llu, closed without answer %llu\n", answered, dropped);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "reference-server: %s\n", error.what());
        return 1;
    }
}
