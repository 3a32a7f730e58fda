"""A real FTP server for the network client's tests and benchmark.

Serves one user with full rights, and anonymous logins, on a root directory, on 127.0.0.1 and a free port, which
it writes to --port-file once it listens. Runs until it is terminated.
"""
import argparse
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="secret")
    args = parser.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    # Anonymous logins may read and upload, for the clients that log in without a name.
    authorizer.add_anonymous(args.root, perm="elrw")
    handler = FTPHandler
    handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), handler)
    port = server.socket.getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as out:
        out.write(str(port))
    os.rename(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
