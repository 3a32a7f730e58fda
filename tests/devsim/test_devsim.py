"""kavrel-devsim tested from outside: a real simulator process on free ports.

The simulator's output goes to a log file in the test's folder, and it watches this test's
process (--parent-pid), so a crashed test never leaves it running.
"""

import ftplib
import hashlib
import json
import os
import secrets
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("KAVREL_SOURCE_DIR") or os.path.normpath(os.path.join(HERE, "..", ".."))
SCRIPT = os.path.join(SOURCE, "tools", "devsim", "kavrel-devsim")
TMP_ROOT = os.path.join(os.environ.get("KAVREL_BINARY_DIR") or tempfile.gettempdir(), "test-tmp")
BOUND = 20.0  # generous bound on every wait: catches a hang, never a speed figure


def wait_for(check, bound=BOUND):
    end = time.monotonic() + bound
    while time.monotonic() < end:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    return None


class Simulator:
    """Starts kavrel-devsim with the given device descs and reads its ready file."""

    def __init__(self, *descs, extra=()):
        os.makedirs(TMP_ROOT, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="devsim-py-", dir=TMP_ROOT)
        self.log_path = os.path.join(self.dir, "devsim.log")
        ready = os.path.join(self.dir, "ready.json")
        args = [SCRIPT, "--workdir", self.dir, "--ready-file", ready,
                "--parent-pid", str(os.getpid()), *extra]
        for desc in descs:
            args += ["--device", desc]
        self._log = open(self.log_path, "ab")
        self.proc = subprocess.Popen(args, stdout=self._log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)

        def ready_info():
            if self.proc.poll() is not None:
                raise AssertionError("simulator exited: " + open(self.log_path).read())
            try:
                with open(ready) as f:
                    return json.load(f)
            except (OSError, ValueError):
                return None
        self.info = wait_for(ready_info)
        if not self.info:
            self.stop()
            raise AssertionError("simulator not ready")
        self.devices = {d["name"]: d for d in self.info["devices"]}

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(BOUND)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._log.close()
        return self.proc.returncode

    def control(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(f"http://127.0.0.1:{self.info['control']}{path}",
                                     data=data, method=method)
        try:
            with urllib.request.urlopen(req, timeout=BOUND) as r:
                raw = r.read()
                status = r.status
        except urllib.error.HTTPError as e:
            raw, status = e.read(), e.code
        try:
            return status, json.loads(raw)
        except ValueError:
            return status, raw.decode("latin-1")

    def log(self, since=0, device=None):
        query = f"?since={since}" + (f"&device={device}" if device else "")
        return self.control("GET", "/log" + query)[1]["entries"]


def raw_http(port, request, timeout=BOUND):
    """Sends `request` bytes; returns (everything received, whether the peer closed)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        data = b""
        while True:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                return data, False
            if not chunk:
                return data, True
            data += chunk


def basic_get(device, path, user=None, password=None):
    user = device["user"] if user is None else user
    password = device["password"] if password is None else password
    import base64
    token = base64.b64encode(f"{user}:{password}".encode()).decode()
    data, _ = raw_http(device["http"], f"GET {path} HTTP/1.0\r\nAuthorization: Basic {token}"
                                       f"\r\n\r\n".encode())
    return split_reply(data)


def split_reply(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1]) if lines and lines[0].startswith("HTTP/") else 0
    headers = {}
    for line in lines[1:]:
        k, _, v = line.partition(":")
        headers[k.strip().lower()] = v.strip()
    return status, headers, body


def digest_get(device, path, password=None, algorithm=None, signed_uri=None):
    """A Digest exchange: the challenge, then the answer (qop=auth). `signed_uri` is the URI
    the client signs when it differs from the path (a client behind a proxy)."""
    status, headers, _ = split_reply(raw_http(device["http"],
                                              f"GET {path} HTTP/1.0\r\n\r\n".encode())[0])
    assert status == 401
    challenge = headers["www-authenticate"]
    assert challenge.startswith("Digest ")
    params = dict(p.strip().split("=", 1) for p in challenge[7:].split(", "))
    params = {k: v.strip('"') for k, v in params.items()}
    algorithm = algorithm or params["algorithm"]
    h = {"MD5": hashlib.md5, "SHA-256": hashlib.sha256}[algorithm]

    def hx(text):
        return h(text.encode()).hexdigest()
    password = device["password"] if password is None else password
    cnonce, nc = secrets.token_hex(8), "00000001"
    ha1 = hx(f"{device['user']}:{params['realm']}:{password}")
    signed_uri = signed_uri or path
    ha2 = hx(f"GET:{signed_uri}")
    response = hx(f"{ha1}:{params['nonce']}:{nc}:{cnonce}:auth:{ha2}")
    auth = (f'Digest username="{device["user"]}", realm="{params["realm"]}", '
            f'nonce="{params["nonce"]}", uri="{signed_uri}", algorithm={algorithm}, qop=auth, '
            f'nc={nc}, cnonce="{cnonce}", response="{response}", opaque="{params["opaque"]}"')
    data, _ = raw_http(device["http"],
                       f"GET {path} HTTP/1.0\r\nAuthorization: {auth}\r\n\r\n".encode())
    return split_reply(data), params


def basic_request(device, method, target, body=b""):
    """One request with the device's Basic credentials; body sent as a form."""
    import base64
    token = base64.b64encode(f"{device['user']}:{device['password']}".encode()).decode()
    head = (f"{method} {target} HTTP/1.0\r\nAuthorization: Basic {token}\r\n"
            f"Content-Type: application/x-www-form-urlencoded\r\n"
            f"Content-Length: {len(body)}\r\n\r\n")
    return split_reply(raw_http(device["http"], head.encode() + body)[0])


class StrictPagesTest(unittest.TestCase):
    """Requests the library never sends are refused with 400, so that a test that sends a
    wrong one sees it; the library's own forms pass."""

    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("name=s2,model=KM2401", "name=s3,model=RZ3120",
                            "name=s7,model=RZ7161", "name=rq,model=RQ48x3")
        cls.dev = cls.sim.devices

    @classmethod
    def tearDownClass(cls):
        code = cls.sim.stop()
        assert code == 0, f"simulator exit status {code}"

    SETMD = "&".join(f"i{n}={n - 1}&n{n}=&x{n}=0&y{n}=0&w{n}=0&h{n}=0&p{n}=0&t{n}=0"
                     for n in (1, 2, 3))

    REFUSED = [
        # camera commands: GET only, cam= except for sethome
        ("s7", "POST", "/cgi-bin/camctrl/camctrl.cgi", b"cam=1&move=up"),
        ("s7", "GET", "/cgi-bin/camctrl/camctrl.cgi?move=up", b""),
        ("s7", "GET", "/cgi-bin/camctrl/camctrl.cgi?x=3&y=4", b""),
        ("s7", "GET", "/cgi-bin/camctrl/camctrl.cgi?cam=1&sethome=define", b""),
        # presets: POST only, fixed keys; the numbered form on RQ48x3 alone
        ("s7", "GET", "/cgi-bin/admin/preset.cgi?cam=1&addpos=door", b""),
        ("s7", "GET", "/cgi-bin/admin/preset.cgi?cam=1&delpos=door", b""),
        ("s7", "POST", "/cgi-bin/admin/preset.cgi", b"addpos=door"),
        ("s7", "POST", "/cgi-bin/admin/preset.cgi", b"cam=1&addpos=door&speed=2"),
        ("s7", "POST", "/cgi-bin/admin/preset.cgi", b"cam=1&addpos=door&addpos=yard"),
        ("s7", "POST", "/cgi-bin/admin/preset.cgi", b"presetnumber=2&presetname=hall"),
        ("rq", "POST", "/cgi-bin/admin/preset.cgi", b"presetnumber=2&cam=1"),
        ("rq", "POST", "/cgi-bin/admin/preset.cgi", b"presetnumber=-1"),
        ("s7", "POST", "/cgi-bin/recall.cgi", b"cam=1&recall=door"),
        ("s7", "GET", "/cgi-bin/recall.cgi?recall=door", b""),
        # host name, clock and password of the older generations: POST, method once, in place
        ("s3", "GET", "/setup/system.cgi?host=cam", b""),
        ("s3", "POST", "/setup/system.cgi", b"host=cam&method=menu"),
        ("s3", "POST", "/setup/system.cgi", b"method=menu&host=cam&date=2026/12/10"),
        ("s3", "POST", "/setup/system.cgi", b"method=menu&date=2026/12/10&method=menu&time=10:00:00"),
        ("s3", "POST", "/setup/system.cgi", b"host=a&host=b"),
        ("s2", "GET", "/cgi-bin/security.cgi?rootpass=x", b""),
        ("s2", "POST", "/cgi-bin/security.cgi", b"rootpass=x&host=y"),
        # setparam.cgi: the parameters by POST, the upgrade's keys by GET, never mixed
        ("s7", "GET", "/cgi-bin/admin/setparam.cgi?System_hostname=cam", b""),
        ("s7", "POST", "/cgi-bin/admin/setparam.cgi", b"System_reset=1"),
        ("s7", "GET", "/cgi-bin/admin/setparam.cgi?Network_resetip=1&System_hostname=x", b""),
        ("s7", "POST", "/cgi-bin/admin/setparam.cgi", b"System_hostname=a&System_hostname=b"),
        # motion windows: GET, all 24 keys once, no other; the form by POST, per and sen alone
        ("s7", "POST", "/cgi-bin/admin/setmd.cgi", SETMD.encode()),
        ("s7", "GET", "/cgi-bin/admin/setmd.cgi?" + SETMD.replace("&x1=0", ""), b""),
        ("s7", "GET", "/cgi-bin/admin/setmd.cgi?" + SETMD + "&z1=0", b""),
        ("s7", "GET", "/cgi-bin/admin/setmd.cgi?" + SETMD + "&x1=0", b""),
        ("s7", "GET", "/cgi-bin/admin/setmd.cgi?" + SETMD.replace("x1=0", "x1=-5"), b""),
        ("s7", "POST", "/cgi-bin/admin/getmd.cgi", b""),
        ("s2", "GET", "/cgi-bin/motion.cgi?per=5&sen=6", b""),
        ("s2", "POST", "/cgi-bin/motion.cgi", b"per=5"),
        ("s2", "POST", "/cgi-bin/motion.cgi", b"per=5&sen=6&x=1"),
    ]

    ACCEPTED = [
        ("s7", "GET", "/cgi-bin/camctrl/camctrl.cgi?cam=1&move=up", b""),
        ("s7", "GET", "/cgi-bin/camctrl/camctrl.cgi?cam=1&zoom=tele&zoomstep=2&any=thing", b""),
        ("s7", "GET", "/cgi-bin/camctrl/camctrl.cgi?sethome=define", b""),
        ("s7", "POST", "/cgi-bin/admin/preset.cgi", b"cam=1&addpos=door"),
        ("s7", "GET", "/cgi-bin/recall.cgi?cam=1&recall=door", b""),
        ("s7", "POST", "/cgi-bin/admin/preset.cgi", b"cam=1&delpos=door"),
        ("rq", "POST", "/cgi-bin/admin/preset.cgi", b"presetnumber=2&presetname=hall"),
        ("s3", "POST", "/setup/system.cgi", b"host=cam&method=menu&date=2026/12/10&time=10:00:00"),
        ("s2", "POST", "/cgi-bin/system.cgi", b"method=menu&time=10:00:00"),
        ("s2", "POST", "/cgi-bin/security.cgi", b"rootpass=pass"),  # its own password again
        ("s7", "POST", "/cgi-bin/admin/setparam.cgi", b"System_hostname=cam&System_time=10:00:00"),
        ("s7", "GET", "/cgi-bin/admin/setparam.cgi?Network_resetip=0", b""),
        ("s7", "GET", "/cgi-bin/admin/setmd.cgi?" + SETMD, b""),
        ("s7", "GET", "/cgi-bin/admin/getmd.cgi", b""),
        ("s2", "POST", "/cgi-bin/motion.cgi", b"per=5&sen=6"),
    ]

    def test_what_the_library_never_sends_is_refused(self):
        for name, method, target, body in self.REFUSED:
            with self.subTest(f"{name} {method} {target} {body!r}"):
                self.assertEqual(basic_request(self.dev[name], method, target, body)[0], 400)

    def test_what_the_library_sends_is_taken(self):
        for name, method, target, body in self.ACCEPTED:
            with self.subTest(f"{name} {method} {target} {body!r}"):
                status, _, reply = basic_request(self.dev[name], method, target, body)
                self.assertEqual(status, 200, reply)


class DevsimTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("name=basic,model=KM3111",
                            "name=md5,model=KM4130,auth=digest,user=admin,password=s3cret",
                            "name=sha,model=KM8111,auth=digest-sha256,user=op,password=pw",
                            "name=learn,model=KM5120")
        cls.dev = cls.sim.devices

    @classmethod
    def tearDownClass(cls):
        code = cls.sim.stop()
        assert code == 0, f"simulator exit status {code}"

    def setUp(self):
        for name in self.dev:
            self.sim.control("DELETE", f"/devices/{name}/faults")

    # ---- authentication ----

    def test_basic_authentication(self):
        d = self.dev["basic"]
        status, headers, _ = split_reply(raw_http(d["http"], b"GET /cgi-bin/sysinfo.cgi "
                                                             b"HTTP/1.0\r\n\r\n")[0])
        self.assertEqual(status, 401)
        self.assertTrue(headers["www-authenticate"].startswith("Basic realm="))
        self.assertEqual(basic_get(d, "/cgi-bin/sysinfo.cgi", password="wrong")[0], 401)
        self.assertEqual(basic_get(d, "/cgi-bin/sysinfo.cgi", user="admin")[0], 401)
        status, _, body = basic_get(d, "/cgi-bin/sysinfo.cgi")
        self.assertEqual(status, 200)
        self.assertIn(b"model=KM3111-V1.0.2\r\n", body)

    def test_digest_only_md5_and_sha256(self):
        for name, algorithm in (("md5", "MD5"), ("sha", "SHA-256")):
            with self.subTest(name):
                d = self.dev[name]
                (status, _, body), params = digest_get(d, "/cgi-bin/sysinfo.cgi?x=1")
                self.assertEqual(params["algorithm"], algorithm)
                self.assertEqual(params["qop"], "auth")
                self.assertEqual(status, 200)
                self.assertIn(b"model=", body)
                (status, _, _), _ = digest_get(d, "/cgi-bin/sysinfo.cgi", password="bad")
                self.assertEqual(status, 401)
                # Digest only: correct credentials sent as Basic are refused.
                self.assertEqual(basic_get(d, "/cgi-bin/sysinfo.cgi")[0], 401)
        # Through a proxy the client signs the absolute URI; another path is refused.
        sha = self.dev["sha"]
        absolute = f"http://127.0.0.1:{sha['http']}/cgi-bin/sysinfo.cgi"
        self.assertEqual(digest_get(sha, "/cgi-bin/sysinfo.cgi", signed_uri=absolute)[0][0], 200)
        self.assertEqual(digest_get(sha, "/cgi-bin/sysinfo.cgi", signed_uri="/other")[0][0], 401)
        # An answer computed with the other algorithm is refused.
        (status, _, _), _ = digest_get(self.dev["sha"], "/", algorithm="MD5")
        self.assertEqual(status, 401)

    # ---- pages ----

    def test_sysinfo_of_the_learning_model(self):
        status, _, body = basic_get(self.dev["learn"], "/cgi-bin/sysinfo.cgi")
        self.assertEqual(status, 200)
        fields = dict(line.split("=", 1) for line in body.decode().split("\r\n") if line)
        self.assertEqual(fields["model"], "KM5120-V1.0.2")
        self.assertEqual((fields["cameras"], fields["inputs"], fields["outputs"]), ("1", "1", "1"))
        self.assertLess(len(body), 1022)

    def test_digital_inputs_forms_and_case(self):
        basic, learn = self.dev["basic"], self.dev["learn"]
        self.sim.control("POST", "/devices/basic/di", {"levels": [1, 0], "case": "upper"})
        self.assertEqual(basic_get(basic, "/cgi-bin/getdi.cgi")[2], b"DI1=H\r\nDI2=L\r\n")
        self.sim.control("POST", "/devices/basic/di", {"levels": [0, 1], "case": "lower"})
        self.assertEqual(basic_get(basic, "/cgi-bin/getdi.cgi")[2], b"di1=l\r\ndi2=h\r\n")
        self.sim.control("POST", "/devices/learn/di", {"levels": [1]})
        self.assertEqual(basic_get(learn, "/cgi-bin/dido/getdi.cgi")[2], b"DI=H\r\n")
        self.sim.control("POST", "/devices/learn/di", {"form": "indexed"})
        self.assertEqual(basic_get(learn, "/cgi-bin/dido/getdi.cgi")[2], b"DI1=H\r\n")
        status, answer = self.sim.control("POST", "/devices/basic/di", {"case": "mixed"})
        self.assertEqual(status, 400)
        # The model's own path only: the series-4 path is a plain page on a series-3 device.
        self.assertEqual(basic_get(basic, "/cgi-bin/dido/getdi.cgi")[2], b"")

    def test_digital_outputs(self):
        d = self.dev["basic"]
        cases = [("?do=h&do2=c&do2=h", [1, 1]), ("?do1=o&do1=l", [0, 1]),
                 ("?do2=o&do2=l", [0, 0])]
        for query, levels in cases:
            with self.subTest(query):
                self.assertEqual(basic_get(d, "/setup/setdo.cgi" + query)[0], 200)
                self.assertEqual(self.sim.control("GET", "/devices/basic/do")[1]["levels"], levels)
        for bad in ("?do3=c&do3=h", "?do1=x", "?foo=1", ""):
            with self.subTest(bad):
                self.assertEqual(basic_get(d, "/setup/setdo.cgi" + bad)[0], 400)
        self.assertEqual(self.sim.control("GET", "/devices/basic/do")[1]["levels"], [0, 0])

    def test_serial_passthrough(self):
        d = self.dev["basic"]
        url = "/setup/uart.cgi"
        self.sim.control("POST", "/devices/basic/uart/1", {"clear": True, "echo": False})
        self.assertEqual(basic_get(d, url + "?com=1&data=AB%2B1")[0], 200)
        self.assertEqual(self.sim.control("GET", "/devices/basic/uart/1")[1]["written"], "AB+1")
        self.sim.control("POST", "/devices/basic/uart/1", {"receive": "0123456789"})
        self.assertEqual(basic_get(d, url + "?com=1&read=4")[2], b"0123")
        self.assertEqual(basic_get(d, url + "?com=1&read=64&flush=yes")[2], b"")
        # wait: an answer that arrives during the wait is returned.
        self.sim.control("POST", "/devices/basic/uart/1", {"echo": True})
        status, _, body = basic_get(d, url + "?com=1&read=64&data=ping&wait=2000")
        self.assertEqual((status, body), (200, b"ping"))
        for bad in ("?com=2&read=1", "?com=0", "?read=1", "?com=1&read=x"):
            with self.subTest(bad):
                self.assertEqual(basic_get(d, url + bad)[0], 400)

    def test_other_paths_answer_200_and_requests_are_logged(self):
        d = self.dev["basic"]
        self.assertEqual(basic_get(d, "/setup/nothing.html")[0], 404)
        d = self.dev["basic"]
        since = len(self.sim.log())
        body = b"alpha=1&beta=two"
        token = "cm9vdDpwYXNz"  # root:pass
        data, _ = raw_http(d["http"], b"POST /cgi-bin/admin/anything.cgi?k=v&w=2 HTTP/1.0\r\n"
                                      b"Authorization: Basic " + token.encode() +
                           b"\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        self.assertEqual(split_reply(data)[0], 200)
        entries = self.sim.log(since, "basic")
        self.assertEqual(len(entries), 1)
        e = entries[0]
        self.assertEqual((e["method"], e["path"], e["query"], e["body"], e["status"]),
                         ("POST", "/cgi-bin/admin/anything.cgi", "k=v&w=2", "alpha=1&beta=two",
                          200))
        self.assertEqual((e["device"], e["proto"]), ("basic", "http"))
        # The same entries are in the JSON-lines file.
        with open(os.path.join(self.sim.dir, "requests.jsonl")) as f:
            lines = [json.loads(line) for line in f]
        self.assertIn(e, lines)

    # ---- faults ----

    def test_fault_status_truncate_oversize_and_times(self):
        d = self.dev["basic"]
        path = "/cgi-bin/sysinfo.cgi"
        full = basic_get(d, path)[2]
        self.sim.control("POST", "/devices/basic/faults", {"path": path, "status": 503,
                                                          "times": 2})
        self.assertEqual([basic_get(d, path)[0] for _ in range(3)], [503, 503, 200])
        self.sim.control("POST", "/devices/basic/faults", {"path": path, "truncate": 10})
        status, headers, body = basic_get(d, path)
        self.assertEqual((status, body, headers["content-length"]), (200, full[:10], "10"))
        self.sim.control("DELETE", "/devices/basic/faults")
        self.sim.control("POST", "/devices/basic/faults", {"path": "*", "oversize": 5000})
        status, _, body = basic_get(d, "/any/path.cgi")
        self.assertEqual((status, len(body)), (200, 5000))
        status, _, body = basic_get(d, path)
        self.assertEqual((len(body), body[:len(full)]), (5000, full))
        status, answer = self.sim.control("POST", "/devices/basic/faults", {"colour": 1})
        self.assertEqual(status, 400)

    def test_fault_close_mid_body(self):
        d = self.dev["basic"]
        path = "/cgi-bin/sysinfo.cgi"
        full = basic_get(d, path)[2]
        self.sim.control("POST", "/devices/basic/faults", {"path": path, "close_after": 7})
        data, closed = raw_http(d["http"], b"GET /cgi-bin/sysinfo.cgi HTTP/1.0\r\n"
                                           b"Authorization: Basic cm9vdDpwYXNz\r\n\r\n")
        status, headers, body = split_reply(data)
        self.assertTrue(closed)
        self.assertEqual((status, body), (200, full[:7]))
        self.assertEqual(int(headers["content-length"]), len(full))

    def test_fault_delay_and_no_answer(self):
        d = self.dev["basic"]
        self.sim.control("POST", "/devices/basic/faults", {"path": "/slow.cgi", "delay_ms": 400})
        start = time.monotonic()
        self.assertEqual(basic_get(d, "/slow.cgi")[0], 200)
        self.assertGreaterEqual(time.monotonic() - start, 0.4)
        self.sim.control("POST", "/devices/basic/faults", {"path": "/mute", "no_answer": True})
        data, closed = raw_http(d["http"], b"GET /mute HTTP/1.0\r\n\r\n", timeout=1.0)
        self.assertEqual((data, closed), (b"", False))
        self.assertEqual(self.sim.log(device="basic")[-1]["path"], "/mute")

    def test_restart_takes_http_and_ftp_away(self):
        d = self.dev["learn"]
        status, answer = self.sim.control("POST", "/devices/learn/restart", {"seconds": 1.5})
        self.assertEqual(status, 200)

        def refused(port):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return False
            except OSError:
                return True
        self.assertTrue(wait_for(lambda: refused(d["http"]) and refused(d["ftp"])))
        self.assertTrue(self.sim.control("GET", "/devices/learn")[1]["down"])
        self.assertTrue(wait_for(lambda: basic_get(d, "/")[0] == 200 if not refused(d["http"])
                                 else False))
        self.assertFalse(refused(d["ftp"]), "HTTP answered before FTP was back")
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", d["ftp"], timeout=BOUND)
            ftp.login(d["user"], d["password"])
        # The other devices stayed up all along.
        self.assertEqual(basic_get(self.dev["basic"], "/")[0], 200)

    # ---- FTP ----

    def test_ftp_serves_the_devices_files(self):
        d = self.dev["md5"]
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", d["ftp"], timeout=BOUND)
            ftp.login(d["user"], d["password"])
            self.assertIn("config.ini", ftp.nlst())
            chunks = []
            ftp.retrbinary("RETR config.ini", chunks.append)
            self.assertIn(b"KM4130-V1.0.2", b"".join(chunks))
            ftp.storbinary("STOR upload.bin", __import__("io").BytesIO(b"firmware"))
        with open(os.path.join(d["ftp_root"], "upload.bin"), "rb") as f:
            self.assertEqual(f.read(), b"firmware")
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", d["ftp"], timeout=BOUND)
            with self.assertRaises(ftplib.error_perm):
                ftp.login(d["user"], "wrong")
        commands = [e["method"] for e in self.sim.log(device="md5") if e["proto"] == "ftp"]
        self.assertIn("RETR", commands)
        self.assertNotIn("wrong", json.dumps(self.sim.log(device="md5")))


class ConfigurationTest(unittest.TestCase):
    """Each way of serving the configuration, and the FTP faults."""

    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("name=cgi,model=KM4130", "name=area,model=KM3111",
                            "name=net,model=KM2101", "name=mail,model=QB3101")
        cls.dev = cls.sim.devices

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def setUp(self):
        for name in self.dev:
            self.sim.control("DELETE", f"/devices/{name}/faults")

    def test_each_model_serves_its_own_page_and_404_for_the_others(self):
        pages = ["/cgi-bin/admin/configfile.cgi", "/setup/parafile.html", "/setup/network.html",
                 "/setup/mailftp.html"]
        for name, served in (("cgi", 0), ("area", 1), ("net", 2), ("mail", 3)):
            d = self.dev[name]
            with open(d["config"], "rb") as f:
                config = f.read()
            for i, page in enumerate(pages):
                with self.subTest(name=name, page=page):
                    status, _, body = basic_get(d, page)
                    self.assertEqual(status, 200 if i == served else 404)
                    if i != served:
                        continue
                    if i == 0:
                        self.assertEqual(body, config)
                    elif i == 1:
                        self.assertIn(b"readonly>" + config + b"</textarea>", body)
                    else:
                        self.assertIn(b'name="ftpport" value="%d"' % d["ftp"], body)

    def test_stor_replaces_the_configuration(self):
        d = self.dev["cgi"]
        text = b"[system]\r\n<hostname>\r\nstored\r\n"
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", d["ftp"], timeout=BOUND)
            ftp.login(d["user"], d["password"])
            ftp.storbinary("STOR config.ini", __import__("io").BytesIO(text))
        self.assertEqual(basic_get(d, "/cgi-bin/admin/configfile.cgi")[2], text)

    def _ftp(self, d):
        ftp = ftplib.FTP()
        ftp.connect("127.0.0.1", d["ftp"], timeout=2)
        return ftp

    def test_ftp_faults(self):
        d = self.dev["area"]
        ctl = f"/devices/area/faults"
        self.assertEqual(self.sim.control("POST", ctl, {"ftp": "refuse_login", "times": 1})[0], 200)
        with self._ftp(d) as ftp, self.assertRaises(ftplib.error_perm):
            ftp.login(d["user"], d["password"])
        with self._ftp(d) as ftp:  # used up
            ftp.login(d["user"], d["password"])
            self.sim.control("POST", ctl, {"ftp": "close_data", "close_after": 4})
            chunks = []
            with self.assertRaises(ftplib.error_temp):  # 426
                ftp.retrbinary("RETR config.ini", chunks.append)
            self.assertLessEqual(len(b"".join(chunks)), 4)
            self.sim.control("DELETE", ctl)
            self.sim.control("POST", ctl, {"ftp": "refuse_stor"})
            with self.assertRaises(ftplib.error_perm):
                ftp.storbinary("STOR config.ini", __import__("io").BytesIO(b"x"))
        with open(d["config"], "rb") as f:
            self.assertIn(b"KM3111", f.read())
        self.sim.control("POST", ctl, {"ftp": "no_answer", "command": "RETR", "times": 1})
        with self._ftp(d) as ftp, self.assertRaises(socket.timeout):
            ftp.login(d["user"], d["password"])
            ftp.retrbinary("RETR config.ini", lambda chunk: None)
        self.sim.control("POST", ctl, {"ftp": "no_answer"})
        with self._ftp(d) as ftp, self.assertRaises(socket.timeout):
            ftp.login(d["user"], d["password"])
        for bad in ({"ftp": "dance"}, {"ftp": "no_answer", "status": 500},
                    {"ftp": "no_answer", "path": "/x"}):
            self.assertEqual(self.sim.control("POST", ctl, bad)[0], 400, bad)


class LifecycleTest(unittest.TestCase):
    def test_parent_watchdog_and_bad_arguments(self):
        parent = subprocess.Popen([sys.executable, "-c", "import time; time.sleep(60)"])
        sim = Simulator("model=KM2101", extra=("--parent-pid", str(parent.pid)))
        parent.kill()
        parent.wait()
        self.assertTrue(wait_for(lambda: sim.proc.poll() is not None))
        self.assertEqual(sim.stop(), 0)
        for args in (["--device", "model=XX0000"], ["--device", "model=KM3111,auth=ntlm"],
                     ["--device", "model=KM3111,colour=red"], ["--device", "name=x"]):
            with self.subTest(args):
                r = subprocess.run([SCRIPT, *args], capture_output=True, timeout=BOUND)
                self.assertEqual(r.returncode, 2)
                self.assertIn(b"kavrel-devsim:", r.stderr)

    def test_print_sysinfo_matches_the_served_page(self):
        r = subprocess.run([SCRIPT, "--print-sysinfo", "KM5120"], capture_output=True,
                           timeout=BOUND)
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.stdout.startswith(b"model=KM5120-V1.0.2\r\n"))



class FirmwareSideTest(unittest.TestCase):
    """The device side of an upgrade: installed firmware, the restarts an upgrade causes, the
    configuration keys that choose its route and the reset keys of setparam.cgi."""

    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("model=KM3111,name=old,install=yes,down=0.3,newversion=V2.0.0",
                            "model=RZ7161,name=new,down=0.3,subnet=,router=192.0.2.1")
        cls.dev = cls.sim.devices

    @classmethod
    def tearDownClass(cls):
        cls.sim.stop()

    def _store(self, d, names):
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", d["ftp"], timeout=BOUND)
            ftp.login(d["user"], d["password"])
            for name in names:
                ftp.storbinary(f"STOR {name}", __import__("io").BytesIO(b"firmware"))

    def _resets(self, name):
        return self.sim.control("GET", f"/devices/{name}/firmware")[1]["resets"]

    def test_installed_tree_and_route_keys(self):
        root = self.dev["old"]["ftp_root"]
        for rel in ("boot.cfg", "app.bin", "www/index.html", "www/images/icons/cam.gif"):
            self.assertTrue(os.path.isfile(os.path.join(root, rel)), rel)
        with open(self.dev["old"]["config"], newline="") as f:
            self.assertIn("[NETWORK]\r\n", f.read())
        with open(self.dev["new"]["config"], newline="") as f:
            text = f.read()
        self.assertIn("<resetip>\r\n0\r\n<subnet>\r\n\r\n<router>\r\n192.0.2.1\r\n", text)

    def test_session_restarts_by_series(self):
        # A configuration alone never restarts; firmware on series 3 restarts at the end of
        # the session, and the device then reports its new version.
        self._store(self.dev["old"], ["config.ini"])
        time.sleep(0.5)
        self.assertEqual(self._resets("old"), [])
        self._store(self.dev["old"], ["config.ini", "flash.bin"])
        self.assertTrue(wait_for(lambda: self._resets("old") == ["ftp-session"]))
        self.assertTrue(wait_for(lambda: self.sim.control("GET", "/devices/old/firmware")[1]
                                 ["model_name"] == "KM3111-V2.0.0"))

    def test_setparam_keys_and_whole_file_restart(self):
        d = self.dev["new"]
        # flash.bin on series 7 waits for System_reset; flash.pkg restarts by itself unless a
        # System_reset follows within the grace period.
        self._store(d, ["flash.bin"])
        status, _, body = basic_get(d, "/cgi-bin/admin/setparam.cgi?Network_resetip=0"
                                       "&Network_subnet=255.255.255.0&Network_router=192.0.2.9")
        self.assertEqual(status, 200)
        with open(d["config"], newline="") as f:
            self.assertIn("<subnet>\r\n255.255.255.0\r\n<router>\r\n192.0.2.9\r\n", f.read())
        time.sleep(1.5)
        self.assertEqual(self._resets("new"), [])
        self.assertEqual(basic_get(d, "/cgi-bin/admin/setparam.cgi?System_reset=5")[0], 200)
        self.assertTrue(wait_for(lambda: self._resets("new") == ["System_reset"]))
        self.assertTrue(wait_for(lambda: not self.sim.control("GET", "/devices/new")[1]["down"]))
        time.sleep(0.5)
        self._store(d, ["flash.pkg"])
        self.assertTrue(wait_for(lambda: self._resets("new") == ["System_reset", "ftp-session"]))


if __name__ == "__main__":
    unittest.main()
