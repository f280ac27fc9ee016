#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/FtpServers.h"
#include "support/TestFiles.h"
#include "sync/retrieval/AsciiLineEnds.h"
#include "sync/retrieval/FtpClient.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

void Configure(FtpClient& client, const FtpTestServer& server) {
    client.SetHost("127.0.0.1");
    client.SetUsername(server.User());
    client.SetPassword(server.Password());
    client.SetPort(server.Port());
    client.SetTransferTimeout(0ms);
    client.SetConnectTimeout(5s);
    client.SetResponseTimeout(10s);
}

int EntriesIn(const std::filesystem::path& folder) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder),
                                          std::filesystem::directory_iterator()));
}

// A port on which nothing listens: bound once by us, then released.
int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string Lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "<Ligne Code=\"" + std::to_string(i) + "\" Libellé=\"é\"/>\n";
    }
    return text;
}

// Waits until the client notices that the server closed the connection, or gives up.
bool BecomesDisconnected(FtpClient& client, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!client.Connected()) {
            return true;
        }
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(FtpClientConnect, LogsInOnceAndDisconnects) {
    FtpTestServer server;
    FtpClient client;
    Configure(client, server);
    EXPECT_FALSE(client.Connected());
    client.Connect();
    EXPECT_TRUE(client.Connected());
    client.Disconnect();
    EXPECT_FALSE(client.Connected());
    const auto commands = server.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "USER user");
    EXPECT_EQ(commands[1], "PASS secret");
    EXPECT_EQ(server.CountCommands("USER"), 1);
    EXPECT_EQ(server.CountCommands("QUIT"), 1);
}

TEST(FtpClientConnect, WrongPasswordFailsFastWithServerText) {
    FtpTestServer server;
    FtpClient client;
    Configure(client, server);
    client.SetPassword("wrong");
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Connect();
        FAIL() << "login with a wrong password succeeded";
    } catch (const FtpAuthError&) {
        FAIL() << "a refused login is not a security-negotiation failure";
    } catch (const FtpError& error) {
        EXPECT_NE(std::string(error.what()).find("530"), std::string::npos) << error.what();
    }
    // The server's failed-login delay is off, so anything near its 3 s default is our fault.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_FALSE(client.Connected());
}

TEST(FtpClientConnect, UnreachableOrInvalidTargetsGiveAText) {
    FtpClient client;
    client.SetHost("127.0.0.1");
    client.SetUsername("user");
    client.SetPassword("secret");
    client.SetPort(UnusedPort());
    try {
        client.Connect();
        FAIL() << "connected to a port where nothing listens";
    } catch (const FtpError& error) {
        EXPECT_STRNE(error.what(), "");
    }
    EXPECT_FALSE(client.Connected());

    for (int port : {0, -1, 65536, 70000}) {
        client.SetPort(port);
        try {
            client.Connect();
            FAIL() << "port " << port << " accepted";
        } catch (const FtpError& error) {
            EXPECT_EQ(std::string(error.what()), "Port FTP non valide : " + std::to_string(port));
        }
    }

    client.SetPort(21);
    client.SetHost("");
    EXPECT_THROW(client.Connect(), FtpError);
    client.SetHost("bad host/name");
    EXPECT_THROW(client.Connect(), FtpError);
    EXPECT_FALSE(client.Connected());
}

TEST(FtpClientConnect, LineBreaksAreRefusedBeforeAnythingIsSent) {
    FtpTestServer server;
    FtpClient client;
    Configure(client, server);
    client.SetPassword("secret\r\nDELE keep.txt");
    server.PutFile("keep.txt", "kept");
    EXPECT_THROW(client.Connect(), FtpError);
    client.SetPassword("secret");
    client.SetUsername(std::string("user\0x", 6));
    EXPECT_THROW(client.Connect(), FtpError);
    client.SetUsername("user");
    client.SetHost("127.0.0.1\nx");
    EXPECT_THROW(client.Connect(), FtpError);
    EXPECT_TRUE(server.Commands().empty());

    client.SetHost("127.0.0.1");
    client.Connect();
    TempDir local;
    EXPECT_THROW(client.Get("keep.txt\r\nDELE keep.txt", local.Path() / "x", true, false),
                 FtpError);
    EXPECT_THROW(client.Size("keep.txt\nDELE keep.txt"), FtpError);
    EXPECT_EQ(server.CountCommands("DELE"), 0);
    EXPECT_TRUE(std::filesystem::exists(server.Root() / "keep.txt"));
    EXPECT_EQ(EntriesIn(local.Path()), 0);
}

TEST(FtpClientConnect, ConnectedTellsWhenTheServerClosed) {
    {
        FtpTestServer server(FtpServerOptions{.closeAfterGreeting = true});
        FtpClient client;
        Configure(client, server);
        EXPECT_THROW(client.Connect(), FtpError);
        EXPECT_FALSE(client.Connected());
    }
    {
        // Closed right after the login's USER, PASS and PWD have been answered.
        FtpTestServer server(FtpServerOptions{.closeAfterCommands = 3});
        FtpClient client;
        Configure(client, server);
        ASSERT_NO_THROW(client.Connect());
        EXPECT_TRUE(BecomesDisconnected(client, 5s));
        EXPECT_THROW(client.Size("a.txt"), FtpError);
        EXPECT_EQ(server.CountCommands("USER"), 1);
    }
    {
        // Requests find out by themselves, without Connected() being asked first.
        FtpTestServer server(FtpServerOptions{.closeAfterCommands = 3});
        server.PutFile("a.txt", "abc");
        FtpClient client;
        Configure(client, server);
        ASSERT_NO_THROW(client.Connect());
        std::this_thread::sleep_for(800ms);
        TempDir local;
        EXPECT_THROW(client.Get("a.txt", local.Path() / "a.txt", true, false), FtpError);
        EXPECT_THROW(client.Size("a.txt"), FtpError);
        EXPECT_EQ(server.CountCommands("USER"), 1);
        EXPECT_EQ(EntriesIn(local.Path()), 0);
    }
    {
        FtpTestServer server(FtpServerOptions{.idleTimeoutSeconds = 0.5});
        server.PutFile("a.txt", "abc");
        FtpClient client;
        Configure(client, server);
        ASSERT_NO_THROW(client.Connect());
        ASSERT_NO_THROW(EXPECT_EQ(client.Size("a.txt"), 3));
        EXPECT_TRUE(BecomesDisconnected(client, 5s));
        // No silent second login behind the caller's back.
        TempDir local;
        EXPECT_THROW(client.Get("a.txt", local.Path() / "a.txt", true, false), FtpError);
        EXPECT_THROW(client.Size("a.txt"), FtpError);
        EXPECT_EQ(server.CountCommands("USER"), 1);
        EXPECT_EQ(EntriesIn(local.Path()), 0);
    }
}

TEST(FtpClientConnect, RefusedGreetingIsReportedInTheServersWords) {
    FtpTestServer server(FtpServerOptions{.greeting421 = true});
    FtpClient client;
    Configure(client, server);
    try {
        client.Connect();
        FAIL() << "a session refused by a 421 greeting connected";
    } catch (const FtpError& error) {
        // Every line of the reply, and no time-out that never happened.
        EXPECT_EQ(std::string(error.what()),
                  "421-Service not available. 421 Please reconnect using TLS security mechanisms.");
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.Commands().empty());
}

TEST(AsciiLineEnds, CrLfIsOneLineEndAndAnyOtherCrStaysWhereverTheChunksSplit) {
    const std::string stream = "a\r\r\nb\r\nc\rd\n\r\r\ne\r";
    const std::string decoded = "a\r\nb\nc\rd\n\r\ne\r";
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        for (std::size_t second = cut; second <= stream.size(); ++second) {
            AsciiLineEndDecoder decoder;
            std::string out;
            decoder.Decode(std::string_view(stream).substr(0, cut), out);
            decoder.Decode(std::string_view(stream).substr(cut, second - cut), out);
            decoder.Decode(std::string_view(stream).substr(second), out);
            decoder.Finish(out);
            ASSERT_EQ(out, decoded) << "cut at " << cut << " and " << second;
        }
    }
}

TEST(FtpClientGet, AsciiDownloadGivesTheFilesOwnTextWhateverTheServerDoesToCr) {
    // One server converts as the protocol says, the other turns every LF into CR LF, so a CR LF
    // file crosses as CR CR LF: both give the file's own text, and the size check still holds.
    const std::string crLfFile = "<Ligne Texte=\"un\r\ndeux\"/>\r\n<Ligne/>\r\n";
    const std::string lfFile = "a\nb\rc\n";
    for (bool blind : {false, true}) {
        SCOPED_TRACE(blind ? "CR CR LF server" : "standard server");
        FtpTestServer server(FtpServerOptions{.asciiCrCrLf = blind});
        server.PutFile("crlf.xml", crLfFile);
        server.PutFile("lf.xml", lfFile);
        FtpClient client;
        Configure(client, server);
        client.Connect();
        client.SetTransferType(FtpTransferType::Ascii);
        TempDir local;
        client.Get("crlf.xml", local.Path() / "crlf.xml", true, false, client.Size("crlf.xml"));
        client.Get("lf.xml", local.Path() / "lf.xml", true, false, client.Size("lf.xml"));
        EXPECT_EQ(ReadFile(local.Path() / "crlf.xml"),
                  blind ? crLfFile : "<Ligne Texte=\"un\ndeux\"/>\n<Ligne/>\n");
        EXPECT_EQ(ReadFile(local.Path() / "lf.xml"), lfFile);
        // The size is still asked in binary mode after an ASCII download.
        EXPECT_EQ(client.Size("lf.xml"), static_cast<std::int64_t>(lfFile.size()));
        client.SetTransferType(FtpTransferType::Binary);
        client.Get("crlf.xml", local.Path() / "bin.xml", true, false, client.Size("crlf.xml"));
        EXPECT_EQ(ReadFile(local.Path() / "bin.xml"), crLfFile);
        EXPECT_EQ(server.CountCommands("USER"), 1);
    }
}

TEST(FtpClientSize, PresentEmptyAbsentAndRefused) {
    FtpTestServer server;
    server.PutFile("remise_achat.xml", Lines(10));
    server.PutFile("vide.xml", "");
    FtpClient client;
    Configure(client, server);
    client.Connect();
    EXPECT_EQ(client.Size("remise_achat.xml"), static_cast<std::int64_t>(Lines(10).size()));
    EXPECT_EQ(client.Size("vide.xml"), 0);
    EXPECT_EQ(client.Size("absent.xml"), -1);

    // After an ASCII download the size is still asked in binary mode (the server refuses
    // SIZE in ASCII mode, which would read as absent).
    TempDir local;
    client.SetTransferType(FtpTransferType::Ascii);
    client.Get("remise_achat.xml", local.Path() / "remise_achat.xml", true, false);
    EXPECT_EQ(client.Size("remise_achat.xml"), static_cast<std::int64_t>(Lines(10).size()));
    EXPECT_EQ(client.Size("vide.xml"), 0);

    FtpTestServer refusing(FtpServerOptions{.refuseSize = 502});
    refusing.PutFile("a.xml", "abc");
    FtpClient other;
    Configure(other, refusing);
    other.Connect();
    EXPECT_EQ(other.Size("a.xml"), -1);
    EXPECT_TRUE(other.Connected());
    // The listing of the login folder still shows what is there.
    refusing.PutFile("b.xml", "");
    auto names = other.ListNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.xml", "b.xml"}));
    EXPECT_TRUE(other.Connected());
}

TEST(FtpClientGet, DownloadsAndReplacesOverOneLogin) {
    FtpTestServer server;
    const std::string content = Lines(2000);
    server.PutFile("message.xml", content);
    server.PutFile("vide.xml", "");
    std::string binary;
    for (int i = 0; i < 70000; ++i) {
        binary.push_back(static_cast<char>(i * 7));
    }
    server.PutFile("data.bin", binary);
    TempDir local;
    WriteFile(local.Path() / "message.xml", "old copy, longer than nothing");

    FtpClient client;
    Configure(client, server);
    client.Connect();
    client.SetTransferType(FtpTransferType::Ascii);
    client.SetPassive(true);
    client.Get("message.xml", local.Path() / "message.xml", true, false);
    EXPECT_EQ(ReadFile(local.Path() / "message.xml"), content);
    client.Get("vide.xml", local.Path() / "vide.xml", true, false);
    EXPECT_TRUE(std::filesystem::exists(local.Path() / "vide.xml"));
    EXPECT_EQ(std::filesystem::file_size(local.Path() / "vide.xml"), 0u);

    client.SetTransferType(FtpTransferType::Binary);
    const FileDigest digest = client.Get("data.bin", local.Path() / "data.bin", true, false);
    EXPECT_EQ(ReadFile(local.Path() / "data.bin"), binary);
    Sha256 expected;
    expected.Update(binary.data(), binary.size());
    EXPECT_EQ(digest.Size, 70000);
    EXPECT_EQ(digest.Sha256, expected.HexDigest());
    // Active mode: the server connects back to us.
    client.SetPassive(false);
    std::filesystem::remove(local.Path() / "data.bin");
    client.Get("data.bin", local.Path() / "data.bin", true, false);
    EXPECT_EQ(ReadFile(local.Path() / "data.bin"), binary);
    EXPECT_EQ(server.CountCommands("PORT") + server.CountCommands("EPRT"), 1);
    client.SetPassive(true);

    // Not allowed to overwrite: the local file stays as it is.
    WriteFile(local.Path() / "data.bin", "mine");
    EXPECT_THROW(client.Get("data.bin", local.Path() / "data.bin", false, false), FtpError);
    EXPECT_EQ(ReadFile(local.Path() / "data.bin"), "mine");

    EXPECT_THROW(client.Get("absent.xml", local.Path() / "absent.xml", true, false), FtpError);
    EXPECT_FALSE(std::filesystem::exists(local.Path() / "absent.xml"));
    EXPECT_EQ(EntriesIn(local.Path()), 3);
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(server.CountCommands("USER"), 1);
    EXPECT_EQ(server.CountCommands("PASS"), 1);
}

TEST(FtpClientGet, ResumeAppendsInBinaryAndIsRefusedInAscii) {
    FtpTestServer server;
    const std::string content = Lines(500);
    server.PutFile("perso.xml", content);
    TempDir local;
    const auto target = local.Path() / "perso.xml";
    WriteFile(target, content.substr(0, 1000));
    FtpClient client;
    Configure(client, server);
    client.Connect();
    client.SetTransferType(FtpTransferType::Ascii);
    EXPECT_THROW(client.Get("perso.xml", target, true, true), FtpError);
    EXPECT_EQ(ReadFile(target), content.substr(0, 1000));
    client.SetTransferType(FtpTransferType::Binary);
    // The bytes already there were not hashed on their way in: no digest rather than a wrong one.
    EXPECT_EQ(client.Get("perso.xml", target, false, true).Sha256, "");
    EXPECT_EQ(ReadFile(target), content);
    EXPECT_EQ(server.CountCommands("REST 1000"), 1);
}

TEST(FtpClientGet, BrokenTransfersKeepThePreviousFile) {
    const std::string content = Lines(5000);
    struct Case {
        const char* name;
        FtpServerOptions options;
        FtpTransferType type;
        std::chrono::milliseconds stallLimit = 2s;
        std::chrono::milliseconds transferTimeout = 0ms;
        const char* reason = "";  // a text the error must contain
    };
    const Case cases[] = {
        {"dropped with 426, ascii", {.dropAfterBytes = 10000}, FtpTransferType::Ascii},
        {"dropped with 426, binary", {.dropAfterBytes = 10000}, FtpTransferType::Binary},
        {"dropped with 226, binary",
         {.dropAfterBytes = 10000, .dropReplyOk = true},
         FtpTransferType::Binary},
        {"stalled",
         {.stallAfterBytes = 10000},
         FtpTransferType::Ascii,
         2s,
         0ms,
         "aucune donnée reçue depuis 2000 ms"},
        {"stalled before the first byte",
         {.stallAfterBytes = 0},
         FtpTransferType::Binary,
         2s,
         0ms,
         "aucune donnée reçue"},
        {"transfer time-out",
         {.stallAfterBytes = 10000},
         FtpTransferType::Binary,
         0ms,
         1500ms,
         "timed out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FtpTestServer server(c.options);
        server.PutFile("mes_docs.xml", content);
        TempDir local;
        const auto target = local.Path() / "mes_docs.xml";
        WriteFile(target, "previous");
        FtpClient client;
        Configure(client, server);
        client.SetStallLimit(c.stallLimit);
        client.SetTransferTimeout(c.transferTimeout);
        client.Connect();
        client.SetTransferType(c.type);
        const auto start = std::chrono::steady_clock::now();
        try {
            client.Get("mes_docs.xml", target, true, false);
            FAIL() << "a broken transfer reported success";
        } catch (const FtpError& error) {
            EXPECT_STRNE(error.what(), "");
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
        EXPECT_EQ(ReadFile(target), "previous");
        EXPECT_EQ(EntriesIn(local.Path()), 1) << "a temporary file was left behind";
    }
}

}  // namespace
}  // namespace quorvane::testing
