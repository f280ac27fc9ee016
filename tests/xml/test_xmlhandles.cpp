#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "support/TempDir.h"
#include "support/TestFiles.h"
#include "xml/Tnativexml.h"

namespace fs = std::filesystem;

namespace quorvane::testing {
namespace {

std::string DataFile(const std::string& name) {
    return std::string(QUORVANE_TEST_DATA) + "/xml/" + name;
}

void ExpectEnded(const TXMLNodeOMB& node) {
    EXPECT_FALSE(node.IsValid());
    EXPECT_EQ(node.Xml(), nullptr);
    EXPECT_THROW((void)node.FindChild("Lignes"), std::logic_error);
    EXPECT_THROW((void)node.ScanChild("Lignes"), std::logic_error);
    EXPECT_THROW((void)node.ReadAttribute("Code", ""), std::logic_error);
    EXPECT_THROW((void)node.ReadAttributeInteger("Code", 0), std::logic_error);
    EXPECT_THROW((void)node.IndexOfAttribute("Code"), std::logic_error);
    EXPECT_THROW((void)node.AttributeText(0), std::logic_error);
    EXPECT_THROW((void)node.NodeName(), std::logic_error);
    TXMLNodeListOMB list;
    EXPECT_THROW(node.ChildrenByName("Ligne", list), std::logic_error);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(node.ForEachAttribute([](std::string_view, std::string_view) {}),
                 std::logic_error);
}

TEST(TXMLNodeLifetime, HandlesEndWhenTheDocumentIsReloaded) {
    TNativeXmlOMB xml("Messages");
    xml.LoadFromFile(DataFile("lignes.xml"));
    auto lignes = xml.Root().FindChild("Lignes");
    ASSERT_NE(lignes, nullptr);
    TXMLNodeListOMB lines;
    lignes->ChildrenByName("Ligne", lines);
    ASSERT_EQ(lines.Count(), 2);
    const TXMLNodeOMB oldRoot = xml.Root();  // a copy, not the document's own handle

    xml.LoadFromFile(DataFile("lignes.xml"));

    ExpectEnded(*lignes);
    ExpectEnded(*lines.Item(0));
    ExpectEnded(oldRoot);
    EXPECT_THROW((void)lignes->AddChild("Ligne"), std::logic_error);
    EXPECT_THROW((void)lignes->GetOrAddChild("Ligne"), std::logic_error);
    // The document's own handles follow the new tree.
    EXPECT_TRUE(xml.Root().IsValid());
    EXPECT_EQ(xml.Root().Xml(), &xml);
    EXPECT_EQ(xml.Root().NodeName(), "Messages");
    EXPECT_EQ(xml.DocNode().NodeName(), "#document");
    auto fresh = xml.Root().FindChild("Lignes");
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->IsValid());
}

TEST(TXMLNodeLifetime, HandlesOfTheFreshTreeEndOnLoad) {
    TNativeXmlOMB xml("Messages");
    auto added = xml.Root().AddChild("Lignes");
    ASSERT_NE(added, nullptr);
    xml.LoadFromMemory("<Messages/>", "mémoire");
    ExpectEnded(*added);
    EXPECT_EQ(xml.Root().FindChild("Lignes"), nullptr);
}

TEST(TXMLNodeLifetime, HandlesEndWhenTheDocumentIsDestroyed) {
    auto xml = std::make_unique<TNativeXmlOMB>("RemisesAchat");
    xml->LoadFromFile(DataFile("remises_cp1252.xml"));
    auto version = xml->Root().FindChild("Version");
    auto docChild = xml->DocNode().FindChild("RemisesAchat");
    ASSERT_NE(version, nullptr);
    ASSERT_NE(docChild, nullptr);
    EXPECT_EQ(version->Xml(), xml.get());
    xml.reset();
    ExpectEnded(*version);
    ExpectEnded(*docChild);
}

TEST(TXMLNodeLifetime, DefaultHandleStandsForNothing) {
    const TXMLNodeOMB none;
    ExpectEnded(none);
}

TEST(TXMLNodeLifetime, HandlesMadeFromHandlesShareTheirDocument) {
    TNativeXmlOMB xml("RemisesAchat");
    xml.LoadFromFile(DataFile("remises_cp1252.xml"));
    auto lignes = xml.Root().FindChild("Lignes");
    ASSERT_NE(lignes, nullptr);
    auto ligne = lignes->FindChild("Ligne");
    ASSERT_NE(ligne, nullptr);
    EXPECT_EQ(ligne->Xml(), &xml);
    TXMLNodeListOMB list;
    lignes->ChildrenByName("Ligne", list);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1)->Xml(), &xml);
}

// ---- No network, no file outside the document ----

// Writes a file into `dir` and returns its path.
std::string Write(const TempDir& dir, const std::string& name, const std::string& content) {
    const fs::path file = dir.Path() / name;
    WriteFile(file, content);
    return file.string();
}

// A loopback listener that only records whether anybody connected.
class Listener {
  public:
    Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)) {
        if (fd_ < 0) {
            throw std::runtime_error("socket");
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        auto* generic = reinterpret_cast<sockaddr*>(&address);
        if (::bind(fd_, generic, length) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, generic, &length) != 0) {
            ::close(fd_);
            throw std::runtime_error("bind");
        }
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int Port() const { return port_; }
    bool SomebodyConnected() const {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client >= 0) {
            ::close(client);
            return true;
        }
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }

  private:
    int fd_;
    int port_ = 0;
};

TEST(TNativeXmlIsolation, NothingIsFetchedForDtdsOrEntities) {
    const Listener listener;
    const TempDir dir;
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port());
    Write(dir, "secret.txt", "contenu secret");
    const std::string files[] = {
        Write(dir, "dtd.xml", "<!DOCTYPE R SYSTEM \"" + url + "/r.dtd\"><R/>"),
        Write(dir, "public.xml", "<!DOCTYPE R PUBLIC \"-//Q//R\" \"" + url + "/r.dtd\"><R/>"),
        Write(dir, "entite.xml",
              "<!DOCTYPE R [<!ENTITY e SYSTEM \"" + url + "/e.xml\">]><R>&e;</R>"),
        Write(dir, "parametre.xml",
              "<!DOCTYPE R [<!ENTITY % p SYSTEM \"" + url + "/p.dtd\"> %p;]><R/>"),
        Write(dir, "local.xml", "<!DOCTYPE R [<!ENTITY e SYSTEM \"secret.txt\">]><R>&e;</R>"),
    };
    for (const std::string& file : files) {
        TNativeXmlOMB xml("R");
        try {
            xml.LoadFromFile(file);
            ADD_FAILURE() << "accepted: " << file;
        } catch (const XmlLoadError& error) {
            EXPECT_EQ(std::string(error.what()).find("secret"), std::string::npos);
        }
        EXPECT_FALSE(listener.SomebodyConnected()) << file;
    }
}

}  // namespace
}  // namespace quorvane::testing
