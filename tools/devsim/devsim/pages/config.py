"""How each model hands out its configuration file ("config.ini" in its FTP root).

The line-up's ConfigBy says which of these pages a model serves; the others answer 404 on
that model, so that a client trying them in turn moves on instead of taking an empty page
for a configuration:

  cgi               "/cgi-bin/admin/configfile.cgi": the file itself, as stored (CR LF)
  textarea          "/setup/parafile.html": the file inside a read-only text area
  ftp-network-page  "/setup/network.html": a form whose "ftpport" field names the FTP port
  ftp21             "/setup/mailftp.html": a form whose "ftpport" field names the FTP port

Every model serves the file over FTP as well; a STOR of "config.ini" replaces it.
"""

from . import Reply, registry

CONFIG_CGI = "/cgi-bin/admin/configfile.cgi"
PARAFILE = "/setup/parafile.html"
NETWORK = "/setup/network.html"
MAILFTP = "/setup/mailftp.html"

SERVED_BY = {CONFIG_CGI: "cgi", PARAFILE: "textarea", NETWORK: "ftp-network-page",
             MAILFTP: "ftp21"}

NOT_FOUND = Reply(b"Not Found\r\n", status=404)


def _served(req):
    return req.device.model.config_by == SERVED_BY[req.path]


def _config_bytes(device):
    with device.lock, open(device.config_path, "rb") as f:
        return f.read()


def _port_form(device, title):
    return (f"<html><head><title>{title}</title></head><body>\r\n"
            f"<form method=\"post\" action=\"/setup/{title.lower()}.cgi\">\r\n"
            f"FTP port: <input type=\"text\" name=\"ftpport\" value=\"{device.ftp_port}\" "
            f"size=\"5\" maxlength=\"5\">\r\n"
            f"<input type=\"submit\" value=\"Save\"></form></body></html>\r\n")


@registry.path(CONFIG_CGI)
def config_file(req):
    if not _served(req):
        return NOT_FOUND
    return Reply(_config_bytes(req.device), content_type="application/octet-stream")


@registry.path(PARAFILE)
def parafile(req):
    if not _served(req):
        return NOT_FOUND
    body = (b"<html><head><title>Parameters</title></head><body>\r\n"
            b"<form><textarea name=\"para\" cols=\"80\" rows=\"40\" readonly>" +
            _config_bytes(req.device) + b"</textarea></form></body></html>\r\n")
    return Reply(body, content_type="text/html")


@registry.path(NETWORK)
def network(req):
    if not _served(req):
        return NOT_FOUND
    return Reply(_port_form(req.device, "Network"), content_type="text/html")


@registry.path(MAILFTP)
def mailftp(req):
    if not _served(req):
        return NOT_FOUND
    return Reply(_port_form(req.device, "MailFtp"), content_type="text/html")
