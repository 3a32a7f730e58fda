"""HTTP authentication of a device: Basic, or Digest only (MD5 or SHA-256, qop=auth)."""

import base64
import hashlib
import hmac
import secrets
import threading

MODES = ("basic", "digest", "digest-sha256", "none")
_HASHES = {"MD5": hashlib.md5, "SHA-256": hashlib.sha256}
_NONCES_KEPT = 512


def parse_digest(header):
    """The name=value pairs of a Digest Authorization header (values unquoted)."""
    params = {}
    rest = header.strip()
    while rest:
        name, sep, rest = rest.partition("=")
        if not sep:
            break
        name = name.strip().lstrip(",").strip().lower()
        rest = rest.lstrip()
        if rest.startswith('"'):
            end = 1
            value = []
            while end < len(rest) and rest[end] != '"':
                if rest[end] == "\\" and end + 1 < len(rest):
                    end += 1
                value.append(rest[end])
                end += 1
            params[name] = "".join(value)
            rest = rest[end + 1:]
        else:
            value, _, rest = rest.partition(",")
            params[name] = value.strip()
        rest = rest.lstrip().lstrip(",")
    return params


class Authenticator:
    """Checks a request's Authorization header against one user name and password."""

    def __init__(self, mode, user, password, realm):
        if mode not in MODES:
            raise ValueError(f"unknown auth mode {mode}; one of {', '.join(MODES)}")
        self.mode, self.user, self.password, self.realm = mode, user, password, realm
        self._nonces = []
        self._lock = threading.Lock()

    @property
    def algorithm(self):
        return "SHA-256" if self.mode == "digest-sha256" else "MD5"

    def challenge(self):
        """The WWW-Authenticate value of a 401 reply."""
        if self.mode == "basic":
            return f'Basic realm="{self.realm}"'
        nonce = secrets.token_hex(16)
        with self._lock:
            self._nonces.append(nonce)
            del self._nonces[:-_NONCES_KEPT]
        return (f'Digest realm="{self.realm}", qop="auth", nonce="{nonce}", '
                f'opaque="{secrets.token_hex(8)}", algorithm={self.algorithm}')

    def check(self, method, uri, header):
        """The user name when the header proves the credentials, else None."""
        if self.mode == "none":
            return ""
        if not header:
            return None
        scheme, _, value = header.partition(" ")
        if self.mode == "basic":
            return self._check_basic(scheme, value)
        if scheme.lower() != "digest":
            return None
        return self._check_digest(method, uri, parse_digest(value))

    def _check_basic(self, scheme, value):
        if scheme.lower() != "basic":
            return None
        try:
            decoded = base64.b64decode(value.strip(), validate=True).decode("latin-1")
        except ValueError:
            return None
        user, sep, password = decoded.partition(":")
        ok = sep and hmac.compare_digest(user, self.user) and \
            hmac.compare_digest(password, self.password)
        return user if ok else None

    def _check_digest(self, method, uri, p):
        algorithm = p.get("algorithm", "MD5")
        if algorithm.upper() != self.algorithm.upper() or p.get("qop") != "auth":
            return None
        if p.get("username") != self.user or p.get("realm") != self.realm or \
                _origin_form(p.get("uri", "")) != uri:
            return None
        with self._lock:
            known = p.get("nonce") in self._nonces
        if not known or not p.get("nc") or not p.get("cnonce") or not p.get("response"):
            return None
        h = _HASHES[self.algorithm]

        def digest(text):
            return h(text.encode("latin-1")).hexdigest()

        ha1 = digest(f"{self.user}:{self.realm}:{self.password}")
        ha2 = digest(f"{method}:{p['uri']}")  # the URI as the client signed it
        expected = digest(f"{ha1}:{p['nonce']}:{p['nc']}:{p['cnonce']}:auth:{ha2}")
        return self.user if hmac.compare_digest(expected, p["response"].lower()) else None


def _origin_form(uri):
    """A client behind a proxy signs the absolute URI it sent; the device sees only the path."""
    if uri.lower().startswith("http://"):
        slash = uri.find("/", 7)
        return uri[slash:] if slash >= 0 else "/"
    return uri
