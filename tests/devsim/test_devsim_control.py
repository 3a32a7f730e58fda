"""kavrel-devsim's camera, parameter and motion pages, tested from outside.

The library's own tests check the request lines against these pages; here the pages are
checked against what a device must do: 404 where a model lacks a page, the key table of
setparam.cgi, and the getmd reply's shape.
"""

import base64
import ftplib
import unittest
import urllib.parse

from test_devsim import Simulator, raw_http, split_reply


def request(device, method, path, body=""):
    token = base64.b64encode(f"{device['user']}:{device['password']}".encode()).decode()
    head = (f"{method} {path} HTTP/1.0\r\nAuthorization: Basic {token}\r\n"
            f"Content-Length: {len(body)}\r\n\r\n")
    status, _, reply = split_reply(raw_http(device["http"], (head + body).encode())[0])
    return status, reply.decode("latin-1")


class ControlPagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("name=s2,model=KM2401", "name=s3,model=RZ3120",
                            "name=new,model=KM7150", "name=nop,model=KM4130",
                            "name=pw,model=KM2101")
        cls.dev = cls.sim.devices

    @classmethod
    def tearDownClass(cls):
        assert cls.sim.stop() == 0

    def test_pages_exist_only_where_the_model_has_them(self):
        cases = [
            ("nop", "GET", "/cgi-bin/camctrl/camctrl.cgi?cam=0&move=up", 404),
            ("s3", "GET", "/setup/camctrl.cgi?cam=0&move=up", 200),
            ("s3", "GET", "/cgi-bin/camctrl.cgi?cam=0&move=up", 404),
            ("s3", "GET", "/setup/camctrl.cgi?cam=2&move=up", 400),  # one camera
            ("s3", "GET", "/setup/camctrl.cgi?cam=0&move=sideways", 400),
            ("s2", "POST", "/cgi-bin/admin/setparam.cgi", 404),
            ("new", "POST", "/cgi-bin/system.cgi", 404),
            ("s3", "GET", "/setup/motion.html", 404),
            ("s2", "GET", "/setup/getmd.cgi", 404),
            ("new", "GET", "/setup/getmd.cgi", 404),
            ("new", "GET", "/cgi-bin/admin/getmd.cgi", 200),
        ]
        for name, method, path, want in cases:
            with self.subTest(device=name, path=path):
                self.assertEqual(request(self.dev[name], method, path)[0], want)

    def test_setparam_applies_all_keys_or_none(self):
        new = self.dev["new"]
        status, _ = request(new, "POST", "/cgi-bin/admin/setparam.cgi",
                            "System_hostname=first&Unknown_key=1")
        self.assertEqual(status, 400)
        status, _ = request(new, "POST", "/cgi-bin/admin/setparam.cgi",
                            "System_hostname=first&System_time=25h")
        self.assertEqual(status, 400)
        sysinfo = request(new, "GET", "/cgi-bin/sysinfo.cgi")[1]
        self.assertIn("hostname=new\r\n", sysinfo)
        status, reply = request(new, "POST", "/cgi-bin/admin/setparam.cgi?System_hostname=second")
        self.assertEqual((status, reply), (200, "System_hostname='second'\r\n"))
        self.assertIn("hostname=second\r\n", request(new, "GET", "/cgi-bin/sysinfo.cgi")[1])

    def test_getmd_reply_shape(self):
        status, reply = request(self.dev["s3"], "GET", "/setup/getmd.cgi")
        self.assertEqual(status, 200)
        self.assertEqual(len(reply.split("\n", 1)[0]) + 1, 12)  # the preamble line
        self.assertLess(len(reply), 1022)
        lines = reply[12:].split("\n")
        self.assertEqual(lines[-1], "")  # every line ended by LF, none by CR
        self.assertEqual(len(lines) - 1, 3 * 8)
        self.assertTrue(all("=" in line and "\r" not in line for line in lines[:-1]))
        # setmd with an over-long name or a wrong index changes nothing.
        query = urllib.parse.urlencode(
            [(f"{k}{n}", v) for n in (1, 2, 3) for k, v in
             (("i", n - 1), ("n", "x" * 16 if n == 2 else "w"), ("x", 1), ("y", 1), ("w", 1),
              ("h", 1), ("p", 1), ("t", 1))])
        self.assertEqual(request(self.dev["s3"], "GET", "/setup/setmd.cgi?" + query)[0], 400)
        self.assertEqual(request(self.dev["s3"], "GET", "/setup/getmd.cgi")[1], reply)

    def test_a_new_password_is_the_http_and_ftp_login(self):
        pw = dict(self.dev["pw"])
        self.assertEqual(request(pw, "POST", "/cgi-bin/security.cgi", "rootpass=n3w")[0], 200)
        self.assertEqual(request(pw, "GET", "/cgi-bin/sysinfo.cgi")[0], 401)
        pw["password"] = "n3w"
        self.assertEqual(request(pw, "GET", "/cgi-bin/sysinfo.cgi")[0], 200)
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", pw["ftp"], timeout=20)
            with self.assertRaises(ftplib.error_perm):
                ftp.login("root", "pass")
        with ftplib.FTP() as ftp:
            ftp.connect("127.0.0.1", pw["ftp"], timeout=20)
            ftp.login("root", "n3w")


if __name__ == "__main__":
    unittest.main()
