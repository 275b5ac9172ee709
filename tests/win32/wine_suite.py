#!/usr/bin/env python3
"""vorlo.exe under Wine, end to end: it programs vorlo-sim's targets through Wine COM
ports, serves the daemon protocol over Winsock, stops on Ctrl+C, and writes the same
texts and files as the Linux build.

    wine_suite.py VORLO_EXE LINUX_VORLO VORLO_SIM WORK_DIR [CHECK...]

A pseudo-terminal of vorlo-sim becomes COMn through a link in the prefix's dosdevices.
Wine's serial layer on a pseudo-terminal cannot show what only a UART has (modem lines,
parity, rates without a Linux constant such as 250000), so the cases here use 8N1 and
rates Linux names; those limits are no part of what vorlo.exe is checked for.
"""
import fcntl
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import termios
import time
import traceback

EXE, LINUX_VORLO, SIM, WORK = (os.path.abspath(a) for a in sys.argv[1:5])
EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "blinky.hex")
PREFIX = os.path.join(WORK, "prefix")
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY="")
ENV.pop("VORLO_PORTS", None)


def wine(*args, **kw):
    return subprocess.run(["wine", *args], env=ENV, capture_output=True, timeout=120, **kw)


class Server:
    process = None
    terminal = None


def start_server():
    """One wineserver for all checks, in a session of its own whose controlling terminal
    is a pseudo-terminal of the suite's. A wineserver without one would take the first
    simulator terminal it opens as its own and get SIGHUP when that simulator ends."""
    Server.terminal, slave = os.openpty()
    Server.process = subprocess.Popen(["wineserver", "-f", "-p"], env=ENV, stdin=slave, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, start_new_session=True,
                                      preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    # It listens once its socket is in the folder it works in.
    for _ in range(200):
        try:
            if os.path.exists(os.path.join(os.readlink(f"/proc/{Server.process.pid}/cwd"), "socket")):
                # The first program starts Wine's services, which keep its standard
                # streams: not those of a program whose output a check reads.
                subprocess.run(["wine", "cmd", "/c", "exit"], env=ENV, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
                return
        except OSError:
            pass
        if Server.process.poll() is not None:
            break
        time.sleep(0.05)
    raise RuntimeError("the wineserver did not start")


def stop_server():
    subprocess.run(["wineserver", "-k"], env=ENV)
    Server.process.wait(timeout=60)
    os.close(Server.terminal)


class Run:
    def __init__(self, p):
        self.code, self.out, self.err = p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")

    def __repr__(self):
        return f"exit {self.code}\n--- stdout\n{self.out}\n--- stderr\n{self.err}"


def vorlo(*args):
    return Run(wine(EXE, *args, cwd=WORK))


def linux_vorlo(*args):
    return Run(subprocess.run([LINUX_VORLO, *args], cwd=WORK, capture_output=True, timeout=120))


class Sim:
    """One simulated target, its terminal linked as COMn."""

    def __init__(self, com, *options):
        self.link = os.path.join(PREFIX, "dosdevices", com.lower())
        self.p = subprocess.Popen([SIM, *options], stdout=subprocess.PIPE, cwd=WORK)
        self.tty = self.p.stdout.readline().decode().strip()
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(self.tty, self.link)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        # Wine's side has ended by now: the simulator may close its terminal and write
        # its memory.
        if os.path.lexists(self.link):
            os.remove(self.link)
        self.p.send_signal(signal.SIGTERM)
        self.code = self.p.wait(timeout=30)


def file_bytes(name):
    with open(os.path.join(WORK, name), "rb") as f:
        return f.read()


def as_binary(hex_name):
    """The image of a code file as the Linux build reads it."""
    r = linux_vorlo("--importcode=" + hex_name, "--format=BINARY", "--exportcode=image-of.bin")
    assert r.code == 0, r
    return file_bytes("image-of.bin")


def expect(condition, what, run=None):
    if not condition:
        raise AssertionError(what + ("" if run is None else f"\n{run}"))


# ---------------------------------------------------------------------------------------
# The checks. Each is one scenario and checks everything it shows.

def check_version_resource():
    win, lin = vorlo("--version"), linux_vorlo("--version")
    expect(win.code == 0 and win.out == lin.out, "--version differs from Linux", win)
    # The help screen's texts come from the same VERSIONINFO block; stdout is in text
    # mode, so the template's CR LF arrives as CR CR LF.
    win, lin = vorlo("--help"), linux_vorlo("--help")
    expect(win.code == 0 and win.out.replace("\r\r\n", "\r\n") == lin.out, "--help differs from Linux", win)
    # --silent discards standard output into the null device.
    r = vorlo("--silent", "--version", "--drvlist")
    expect(r.code == 0 and r.out == "" and r.err == "", "--silent", r)


def check_conversion_byte_for_byte():
    shutil.copy(EXAMPLE, os.path.join(WORK, "blinky.hex"))
    for fmt, ext in (("INTELHEX", "hex"), ("MOTSREC", "s19"), ("MOTSREC32", "s37"), ("BINARY", "bin"),
                     ("MOTBREC", "txt")):
        for run, tag in ((vorlo, "win"), (linux_vorlo, "lin")):
            r = run("--importcode=blinky.hex", "--format=" + fmt, f"--exportcode=out-{tag}.{ext}")
            expect(r.code == 0, f"{tag} export {fmt}", r)
        expect(file_bytes(f"out-win.{ext}") == file_bytes(f"out-lin.{ext}"), f"{fmt} files differ")
    expect(b"\r\r" not in file_bytes("out-win.hex") and file_bytes("out-win.hex").count(b"\r\n") > 10,
           "HEX line ends")
    # Listings and dumps go to standard output, in text mode.
    win, lin = vorlo("--importcode=blinky.hex", "--listcode", "--listdata", "--codeinfo"), \
        linux_vorlo("--importcode=blinky.hex", "--listcode", "--listdata", "--codeinfo")
    expect(win.code == 0 and win.out.replace("\r\n", "\n") == lin.out.replace("\r\n", "\n"), "listings differ", win)
    # The XML container through XmlLite, as through wxWidgets.
    hex_text = file_bytes("blinky.hex").decode()
    with open(os.path.join(WORK, "fw.xml"), "w") as f:
        f.write('<?xml version="1.0"?>\n<Firmware>\n <Code>\n  <Block>\n   <Content type="IntelHex"><![CDATA['
                + hex_text + "]]></Content>\n  </Block>\n </Code>\n</Firmware>\n")
    for run, tag in ((vorlo, "win"), (linux_vorlo, "lin")):
        r = run("--importcode=fw.xml", f"--exportcode=xml-{tag}.hex")
        expect(r.code == 0, "XML import " + tag, r)
    # The import leaves the format at S3 records.
    expect(file_bytes("xml-win.hex") == file_bytes("xml-lin.hex") == file_bytes("out-lin.s37"), "XML import differs")


def elf32(segments, entry):
    """A little-endian ARM ELF32 executable with one PT_LOAD per (address, bytes)."""
    header_size, ph_size = 52, 32
    offset = header_size + ph_size * len(segments)
    headers, data = b"", b""
    for address, body in segments:
        headers += struct.pack("<8I", 1, offset + len(data), address, address, len(body), len(body), 5, 4)
        data += body
    ident = b"\x7fELF\x01\x01\x01" + bytes(9)
    return ident + struct.pack("<HHIIIIIHHHHHH", 2, 40, 1, entry, header_size, 0, 0x5000000, header_size, ph_size,
                               len(segments), 40, 0, 0) + headers + data


def check_elf_input():
    with open(os.path.join(WORK, "app.elf"), "wb") as f:
        f.write(elf32([(0x0, bytes(range(200))), (0x1000, b"\x5a" * 33)], 0xC1))
    for run, tag in ((vorlo, "win"), (linux_vorlo, "lin")):
        r = run("--importcode=app.elf", "--listcode", f"--exportcode=elf-{tag}.hex")
        expect(r.code == 0, "ELF import " + tag, r)
    expect(file_bytes("elf-win.hex") == file_bytes("elf-lin.hex"), "ELF conversions differ")
    expect(as_binary("elf-win.hex")[:200] == bytes(range(200)), "ELF data")


def check_gen_iap():
    with Sim("COM5", "--protocol=gen_iap", "--dump=gen.hex") as sim:
        r = vorlo("--driver=GEN_IAP", "--connection=COM5,115200,8,N,1", "--importcode=blinky.hex", "--erase",
                  "--write", "--exec")
    expect(sim.code == 0 and r.code == 0, "GEN_IAP run", r)
    expect("\r[" + "#" * 30 + "]" in r.out, "progress bar", r)
    expect(as_binary("gen.hex") == as_binary("blinky.hex"), "GEN_IAP memory differs from the image")


def check_lpc_boot_rom_read_verify():
    # COM12: a name that only the "\\.\" form opens.
    # The reset and boot lines on DTR and RTS: Wine's pseudo-terminal has no modem lines
    # (EscapeCommFunction fails with ERROR_NOT_SUPPORTED), which the trace says; the
    # simulated boot ROM waits in ISP mode all the same.
    with Sim("COM12", "--protocol=lpc_isp", "--part=LPC1768", "--dump=lpc.hex") as sim:
        r = vorlo("--resetctrl=DTR,0", "--pgmenctrl=RTS,0", "--driver=LPC2000_ISP,12000",
                  "--connection=COM12,115200,8,N,1", "--importcode=blinky.hex", "--erase", "--write", "--verify",
                  "--read=0-0x3FF", "--exportcode=read.hex", "--debug=verbose", "--deviceinfo")
    expect(sim.code == 0 and r.code == 0 and "Verify OK." in r.out and "LPC1768" in r.out, "LPC2000_ISP run", r)
    expect(re.search(r"DTR o(n|ff) \(no modem line\)", r.out) and re.search(r"RTS o(n|ff) \(no modem line\)", r.out),
           "the modem lines' trace", r)
    # The same target read by the Linux build gives the same file.
    with Sim("COM12", "--protocol=lpc_isp", "--part=LPC1768", "--load=lpc.hex") as sim:
        lin = linux_vorlo("--driver=LPC2000_ISP,12000", f"--connection={sim.tty},115200,8,N,1", "--read=0-0x3FF", "--format=INTELHEX",
                          "--exportcode=read-lin.hex")
    expect(lin.code == 0 and file_bytes("read.hex") == file_bytes("read-lin.hex"), "READ differs from Linux's", lin)
    # A verify against another image names the first difference.
    with open(os.path.join(WORK, "other.hex"), "w") as f:
        f.write(":0400000001020304F2\n:00000001FF\n")
    with Sim("COM12", "--protocol=lpc_isp", "--part=LPC1768", "--load=lpc.hex"):
        r = vorlo("--driver=LPC2000_ISP,12000", "--connection=\\\\.\\COM12,115200,8,N,1", "--importcode=other.hex",
                  "--verify")
    expect(r.code == 70 and "ERROR: Verify failed at " in r.err, "VERIFY of another image", r)


def check_lpc_fast_mode():
    with Sim("COM6", "--protocol=lpc_isp", "--part=LPC1768", "--dump=fast.hex") as sim:
        r = vorlo("--debug", "--driver=LPC2000_ISP,12000,230400", "--connection=COM6,115200,8,N,1",
                  "--importcode=blinky.hex", "--erase", "--write", "--verify")
    expect(sim.code == 0 and r.code == 0 and "Verify OK." in r.out, "fast mode run", r)
    expect("Com rate set:  230400" in r.out, "the routine's rate", r)
    image = as_binary("blinky.hex")
    expect(as_binary("fast.hex")[:len(image)] == image, "fast mode memory")


def check_modbus():
    # The simulator follows the host's rate: a rate it fixed itself would be one Wine
    # cannot read back from the terminal.
    with Sim("COM7", "--protocol=modbus", "--slave=1", "--dump=mb.hex") as sim:
        r = vorlo("--driver=MODBUS,1", "--connection=COM7,19200,8,N,1", "--importcode=blinky.hex", "--erase",
                  "--write")
    expect(sim.code == 0 and r.code == 0, "MODBUS run", r)
    expect(as_binary("mb.hex") == as_binary("blinky.hex"), "MODBUS memory differs")


def check_gang():
    # Two children, each in the job with its status channel on an inherited pipe.
    with Sim("COM5", "--protocol=gen_iap", "--dump=gang-1.hex") as one, \
            Sim("COM6", "--protocol=gen_iap", "--dump=gang-2.hex") as two:
        r = vorlo("--driver=GEN_IAP", "--connection=COM5,115200,8,N,1", "--importcode=blinky.hex",
                  "--gangreport=gang.json", "--gang=COM5,COM6", "--erase", "--write")
    expect(one.code == 0 and two.code == 0 and r.code == 0 and "Gang: all 2 ports done." in r.out, "GANG run", r)
    for dump in ("gang-1.hex", "gang-2.hex"):
        expect(as_binary(dump) == as_binary("blinky.hex"), dump + " differs")
    report = file_bytes("gang.json")
    expect(report.count(b'"result": "ok"') == 2 and b"\r" not in report, f"report {report!r}")


def listening(port):
    with open("/proc/net/tcp") as table:
        return any(f":{port:04X} " in line and line.split()[3] == "0A" for line in table)


def check_network_port():
    # A raw TCP serial server in front of a simulated target, over Winsock.
    port = free_port()
    with Sim("COM5", "--protocol=gen_iap", "--dump=net.hex") as sim:
        server = subprocess.Popen(["socat", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr", f"FILE:{sim.tty},raw"],
                                  stderr=subprocess.DEVNULL)
        try:
            for _ in range(100):  # until it listens (a probe would take its one connection)
                if listening(port):
                    break
                time.sleep(0.05)
            r = vorlo("--driver=GEN_IAP", f"--connection=socket://127.0.0.1:{port},115200,8,N,1",
                      "--importcode=blinky.hex", "--erase", "--write")
        finally:
            server.terminate()
            server.wait()
    expect(sim.code == 0 and r.code == 0, "GEN_IAP through socket://", r)
    expect(as_binary("net.hex") == as_binary("blinky.hex"), "memory through socket:// differs")
    r = vorlo("--driver=GEN_IAP", f"--connection=socket://127.0.0.1:{port},115200,8,N,1", "--erase")
    expect(r.code == 70 and "no serial server there" in r.err and "Connection refused" in r.out,
           "a port without a server", r)


def vorlo_beside(library, *args):
    """vorlo.exe run from a folder of its own, with a CP210xRuntime.dll stand-in beside
    it (or none)."""
    folder = os.path.join(WORK, "gpio-" + (library or "none"))
    os.makedirs(folder, exist_ok=True)
    shutil.copy(EXE, folder)
    if library:
        shutil.copy(os.path.join(os.path.dirname(EXE), "fake-cp210x", library, "CP210xRuntime.dll"), folder)
    return Run(wine(os.path.join(folder, "vorlo.exe"), *args, cwd=WORK))


def check_cp2103_gpio():
    log = os.path.join(WORK, "latch.log")
    if os.path.exists(log):
        os.remove(log)
    ENV["FAKE_CP210X_LOG"] = "Z:" + log.replace("/", "\\")
    lines = ("--resetctrl=CP2103GPIO_2,0", "--pgmenctrl=CP2103GPIO_1,0", "--driver=LPC2000_ISP,12000",
             "--connection=COM5,115200,8,N,1", "--deviceinfo")
    with Sim("COM5", "--protocol=lpc_isp", "--part=LPC1768"):
        r = vorlo_beside("whole", *lines)
        # The reset line on GPIO 2, active low: mask 04, latch 00 while active, 04 after.
        expect(r.code == 0 and "LPC1768" in r.out, "GPIO lines through the library", r)
        written = open(log).read().split("\n")
        expect(written[:4] == ["W 02 00", "W 04 00", "W 04 04", "W 02 02"], f"latch writes {written}")
        r = vorlo_beside(None, *lines)
        expect(r.code == 0 and r.out.count("Unable to load 'CP210xRuntime.dll'.") == 1, "without the library", r)
        r = vorlo_beside("partial", *lines)
    expect(r.code == 1 and "Unable to import function 'CP210xRT_GetDeviceSerialNumber'." in r.out,
           "a library without a function", r)


def check_silent_and_missing_ports():
    master, slave = os.openpty()  # nobody answers on it
    link = os.path.join(PREFIX, "dosdevices", "com8")
    os.symlink(os.ttyname(slave), link)
    try:
        start = time.monotonic()
        r = vorlo("--driver=GEN_IAP", "--connection=COM8,115200,8,N,1", "--erase")
        expect(r.code == 70 and "ERROR: Failed to connect." in r.err, "silent port", r)
        expect(time.monotonic() - start < 20, "silent port took too long")
    finally:
        os.remove(link)
        os.close(master)
        os.close(slave)
    r = vorlo("--driver=GEN_IAP", "--connection=COM9,115200,8,N,1", "--erase")
    expect(r.code == 70 and "ERROR: Can't open COM9: No such device" in r.err, "missing port", r)


def reg_query(key, value):
    r = wine("reg", "query", key, "/v", value)
    m = re.search(value + r"\s+REG_SZ\s*(.*)", r.stdout.decode("latin-1"))
    return m.group(1).strip() if m else None


def check_auto_search_and_remembered_port():
    with Sim("COM20", "--protocol=gen_iap", "--dump=auto.hex") as sim:
        os.remove(sim.link)  # Wine makes the link itself from its list of ports
        r = wine("reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM20", "/d", sim.tty, "/f")
        expect(r.returncode == 0, "reg add")
        stop_server()  # the list is read when the wineserver starts
        start_server()
        wine("reg", "delete", "HKCU\\Software\\Kestramon\\Vorlo", "/f")
        r = vorlo("--driver=GEN_IAP", "--connection=AUTO,115200,8,N,1", "--importcode=blinky.hex", "--erase",
                  "--write")
        ports = vorlo("--portlist")
        wine("reg", "delete", "HKLM\\Software\\Wine\\Ports", "/v", "COM20", "/f")
        remembered = reg_query("HKCU\\Software\\Kestramon\\Vorlo", "AutoPort")
    expect(r.code == 0 and "Trying port COM20" in r.out, "AUTO run", r)
    expect(remembered == "COM20", f"AutoPort is {remembered!r}")
    expect(as_binary("auto.hex") == as_binary("blinky.hex"), "AUTO memory differs")
    expect(ports.code == 0 and "COM20" in ports.out, "PORTLIST", ports)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def check_daemon_over_winsock():
    port = free_port()
    env = dict(ENV, VORLO_DAEMON_PORT=str(port))
    def start_daemon():
        # Into a file, not a pipe: under Wine the copy with a console of its own keeps the
        # starter's Unix output descriptors, so a pipe would stay open for the daemon's life.
        with open(os.path.join(WORK, "daemon-start.txt"), "w+b") as out:
            p = subprocess.run(["wine", EXE, "-D", "--localhostonly"], env=env, cwd=WORK, stdout=out, stderr=out,
                               timeout=60)
            out.seek(0)
            return p.returncode, out.read().decode()

    code, said = start_daemon()
    expect(code == 0 and f"127.0.0.1 port {port}." in said, "daemon start: " + said)
    # A second daemon finds the port taken: its start report says why.
    code, said = start_daemon()
    expect(code == 70 and "Address already in use" in said and "ERROR: Failed to create daemon process." in said,
           "second daemon: " + said)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        f = s.makefile("rb")

        def request(line):
            s.sendall(line.encode() + b"\r\n")
            return f.readline().decode().rstrip("\r\n")

        expect(request("STAT:") == "READY", "STAT: after the start")
        expect(request("stat:") == "ERR", "lower-case request")
        expect(request("CMD:--importcode=blinky.hex") == "OK", "CMD:")
        expect(request("CMD:--exportcode=daemon.s19") == "OK", "CMD:")
        for _ in range(100):
            if request("STAT:") == "READY" and os.path.exists(os.path.join(WORK, "daemon.s19")):
                break
            time.sleep(0.1)
        expect(request("RESULT:") == "RESULT: 0", "RESULT:")
        expect(request("KILL:") == "OK", "KILL:")
    linux_vorlo("--importcode=blinky.hex", "--exportcode=daemon-lin.s19")
    expect(file_bytes("daemon.s19") == file_bytes("daemon-lin.s19"), "the daemon's file differs")
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            time.sleep(0.1)
        except OSError:
            break
    else:
        raise AssertionError("the daemon did not end after KILL:")


def check_ctrl_c():
    master, slave = os.openpty()
    link = os.path.join(PREFIX, "dosdevices", "com3")
    os.symlink(os.ttyname(slave), link)
    try:
        p = subprocess.Popen(["wine", EXE, "--driver=GEN_IAP", "--connection=COM3,115200,8,N,1", "--contout=30",
                              "--erase"], env=ENV, cwd=WORK, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(3)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=30)
        r = Run(subprocess.CompletedProcess(p.args, p.returncode, out, err))
        expect(p.returncode == 70 and "NOTE: Signal 2 catched" in r.out and "ERROR: Terminated by user." in r.err,
               "Ctrl+C", r)
        leftovers = [n for n in os.listdir(os.path.join(WORK, "tmp")) if n.upper().startswith("HCP")]
        expect(not leftovers, f"temporary files left: {leftovers}")
    finally:
        os.remove(link)
        os.close(master)
        os.close(slave)


CHECKS = [check_version_resource, check_conversion_byte_for_byte, check_elf_input, check_gen_iap,
          check_lpc_boot_rom_read_verify, check_lpc_fast_mode, check_modbus, check_gang, check_cp2103_gpio,
          check_silent_and_missing_ports, check_network_port, check_auto_search_and_remembered_port,
          check_daemon_over_winsock, check_ctrl_c]


def main():
    os.makedirs(os.path.join(WORK, "tmp"), exist_ok=True)
    ENV["TMP"] = ENV["TEMP"] = "Z:" + os.path.join(WORK, "tmp").replace("/", "\\")
    if not os.path.exists(os.path.join(PREFIX, "system.reg")):
        started = time.monotonic()
        subprocess.run(["wineboot", "-i"], env=ENV, check=True, capture_output=True)
        print(f"new Wine prefix in {time.monotonic() - started:.1f} s")
    subprocess.run(["wineserver", "-k"], env=ENV, capture_output=True)  # one that started without a terminal
    subprocess.run(["wineserver", "-w"], env=ENV)
    start_server()
    passed = failed = 0
    chosen = sys.argv[5:]  # names of checks to run alone, while working on them
    for check in [c for c in CHECKS if not chosen or c.__name__[6:] in chosen]:
        started = time.monotonic()
        try:
            check()
            passed += 1
            print(f"PASS {check.__name__[6:]} ({time.monotonic() - started:.1f} s)", flush=True)
        except Exception:
            failed += 1
            print(f"FAIL {check.__name__[6:]} ({time.monotonic() - started:.1f} s)\n{traceback.format_exc()}", flush=True)
    stop_server()
    print(f"Wine: {passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
