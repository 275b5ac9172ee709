// The Windows implementations of the platform services, where they can be checked
// without a serial port: under Wine in CI, on Windows itself alike.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/config_store.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "platform/serial_device.hpp"
#include "platform/socket.hpp"
#include "platform/version_resource.hpp"
#include "platform/xml_document.hpp"

TEST(Win32Platform, PortNamesAreDeviceNames) {
    EXPECT_EQ(serialdev::DevicePath("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(serialdev::DevicePath("COM12"), "\\\\.\\COM12");
    EXPECT_EQ(serialdev::DevicePath("\\\\.\\COM12"), "\\\\.\\COM12");
    serialdev::OpenFailure why;
    EXPECT_EQ(serialdev::System().Open(serialdev::DevicePath("COM250"), why), nullptr);
    EXPECT_EQ(why.reason, "No such device");
    EXPECT_FALSE(serialdev::System().Probe(serialdev::DevicePath("COM250")));
}

TEST(Win32Platform, RememberedPortInTheRegistry) {
    const std::string before = ConfigReadText("AutoPort");
    ASSERT_TRUE(ConfigWriteText("AutoPort", "COM17"));
    EXPECT_EQ(ConfigReadText("AutoPort"), "COM17");
    ASSERT_TRUE(ConfigWriteText("AutoPort", ""));
    EXPECT_EQ(ConfigReadText("AutoPort"), "");
    EXPECT_EQ(ConfigReadText("NoSuchValue"), "");
    ConfigWriteText("AutoPort", before);
}

TEST(Win32Platform, XmlLiteGivesTheElementTree) {
    XmlElement root;
    ASSERT_TRUE(XmlParse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- note -->\n"
                         "<Firmware a=\"1\" b='x &amp; y'>\n  <Code>\n    <Block><Content type=\"IntelHex\">\n"
                         "      <![CDATA[:00000001FF]]>\n    </Content></Block>\n    <Empty/>\n  </Code>\n"
                         "  <Text>caf\xC3\xA9 &lt;1&gt;<![CDATA[second]]></Text>\n</Firmware>",
                         root));
    EXPECT_EQ(root.name, "Firmware");
    ASSERT_EQ(root.attributes.size(), 2u);
    EXPECT_EQ(*root.Attribute("b"), "x & y");
    ASSERT_EQ(root.children.size(), 2u);
    const XmlElement* code = root.FirstChild("Code");
    ASSERT_NE(code, nullptr);
    ASSERT_EQ(code->children.size(), 2u);
    EXPECT_EQ(code->children[1].name, "Empty");
    const XmlElement* content = code->FirstChild("Block")->FirstChild("Content");
    ASSERT_NE(content, nullptr);
    // White space around the CDATA section is no text of its own.
    EXPECT_EQ(content->text, ":00000001FF");
    EXPECT_EQ(*content->Attribute("type"), "IntelHex");
    EXPECT_EQ(root.FirstChild("Text")->text, "caf\xC3\xA9 <1>");

    const char* broken[] = {"", "not xml", "<a><b></a>", "<a/><b/>", "<a>"};
    for (const char* text : broken) EXPECT_FALSE(XmlParse(text, root)) << text;
}

TEST(Win32Platform, FilesAndTemporaryFiles) {
    const char bytes[] = "a\r\nb\n\0z";
    FILE* stream = OpenMemoryStream(bytes, sizeof bytes);
    ASSERT_NE(stream, nullptr);
    char back[sizeof bytes] = {};
    EXPECT_EQ(fread(back, 1, sizeof back, stream), sizeof bytes);  // no line-end translation
    EXPECT_EQ(memcmp(back, bytes, sizeof bytes), 0);
    fclose(stream);

    // TMP names the folder; one that does not exist is passed over for TEMP.
    const std::string folder = CreateUniqueTempDir("vorloTest");
    ASSERT_FALSE(folder.empty());
    const std::string oldTmp = getenv("TMP") ? getenv("TMP") : "", oldTemp = getenv("TEMP") ? getenv("TEMP") : "";
    _putenv(("TMP=" + folder + "\\missing").c_str());
    _putenv(("TEMP=" + folder).c_str());
    std::string path;
    ASSERT_TRUE(CreateUniqueTempFile(path));
    EXPECT_EQ(path.rfind(folder + "\\HCP", 0), 0u) << path;
    EXPECT_TRUE(PathExists(path));
    EXPECT_EQ(CanonicalPath(path).empty(), false);
    EXPECT_EQ(CanonicalPath("COM4"), "\\\\.\\COM4");
    remove(path.c_str());
    _putenv(("TMP=" + oldTmp).c_str());
    _putenv(("TEMP=" + oldTemp).c_str());
    EXPECT_TRUE(MakeDirectory(folder + "\\sub"));
    EXPECT_FALSE(MakeDirectory(folder + "\\sub"));
    _rmdir((folder + "\\sub").c_str());
    _rmdir(folder.c_str());
}

TEST(Win32Platform, ProgramWithoutVersionResource) {
    // The test program has no VERSIONINFO: empty texts and version 0.0.
    const VersionInfo& v = OwnVersionResource();
    EXPECT_STREQ(v.internalName, "");
    EXPECT_STREQ(v.copyright, "");
    EXPECT_EQ(v.major + v.minor + v.build + v.revision, 0);
}

TEST(Win32Platform, WinsockLoopbackAndErrorTexts) {
    SocketHandle server = SocketCreate();
    ASSERT_NE(server, kNoSocket);
    ASSERT_TRUE(SocketBind(server, 0x7F000001, 0));
    ASSERT_TRUE(SocketListen(server, 5));
    uint32_t address = 0;
    uint16_t port = 0;
    ASSERT_TRUE(SocketLocalAddress(server, address, port));
    const uint16_t hostPort = static_cast<uint16_t>((port >> 8) | (port << 8));
    std::thread client([hostPort] {
        SocketHandle c = SocketCreate();
        ASSERT_TRUE(SocketConnect(c, "127.0.0.1", hostPort));
        SocketSend(c, "STAT:\r\n", 7);
        SocketClose(c);
    });
    SocketHandle connection = kNoSocket;
    ASSERT_EQ(SocketAccept(server, connection), AcceptOutcome::Accepted);
    ASSERT_TRUE(SocketWaitReadable(connection, 5000));
    char line[16] = {};
    EXPECT_EQ(SocketReceive(connection, line, 7), 7);
    EXPECT_STREQ(line, "STAT:\r\n");
    client.join();
    SocketClose(connection);
    SocketClose(server);

    SocketHandle refused = SocketCreate();
    EXPECT_FALSE(SocketConnect(refused, "127.0.0.1", hostPort));
    EXPECT_STREQ(SocketErrorText(SocketLastError()), "Connection refused");
    SocketClose(refused);
    EXPECT_STREQ(SocketErrorText(SocketInvalidArgument()), "Invalid argument");
    EXPECT_FALSE(SocketSystemText(SocketInvalidArgument()).empty());
}
