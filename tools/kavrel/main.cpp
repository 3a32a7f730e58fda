// kavrel: every exported function of the library reachable from a shell. Each family of
// subcommands lives in a file of its own (cmd_*.cpp) and adds itself here.
#include <string>

#include "cli.h"

int main(int argc, char **argv) {
  CLI::App app{
      "kavrel: drive a network camera or video server through the Kavrel library.\n"
      "The device is given by options or by the environment variables KAVREL_HOST,\n"
      "KAVREL_HTTP_PORT, KAVREL_FTP_PORT, KAVREL_USER, KAVREL_PASSWORD (or\n"
      "KAVREL_PASSWORD_FILE), KAVREL_TYPE and KAVREL_TIMEOUT. Every password may come from\n"
      "a file (--password-file and the like: its first line) or the environment, so that\n"
      "it never shows on the command line. Example:\n"
      "  kavrel --host 192.0.2.10 --user admin --password-file ~/.cam7 --type KM3111 di\n"
      "'kavrel fleet' runs a subcommand on every device of an inventory: a CSV file with the\n"
      "columns name,host,http_port,ftp_port,user,type[,password_env][,password_file].\n",
      "kavrel"};
  app.require_subcommand(1);
  Settings s;
  app.add_option("--host", s.device.host, "device address")->envname("KAVREL_HOST");
  app.add_option("--http-port", s.device.http_port, "device HTTP port, default 80")
      ->envname("KAVREL_HTTP_PORT");
  app.add_option("--ftp-port", s.device.ftp_port, "device FTP port, default 21")
      ->envname("KAVREL_FTP_PORT");
  app.add_option("--user", s.device.user, "user name")->envname("KAVREL_USER");
  AddSecretOptions(&app, app.add_option("--password", s.device.password, "password"),
                   &s.device.password, "KAVREL_PASSWORD", "KAVREL_PASSWORD_FILE");
  app.add_option("--type", s.device.type,
                 "model server type, e.g. KM3111; without it only 'http' works")
      ->envname("KAVREL_TYPE");
  app.add_option("--timeout", s.device.timeout_ms, "request time-out in ms, default 10000")
      ->envname("KAVREL_TIMEOUT");
  app.add_flag("--async", s.async, "run the command through the library's callback and wait for it");
  app.add_flag("--json", s.json, "print machine-readable JSON");
  app.add_flag("--verbose,-v", s.verbose, "show the library's log records on stderr");

  Output out;
  Commands commands;
  AddDeviceCommands(app, s, out, commands);
  AddConfigCommands(app, s, out, commands);
  AddFirmwareCommands(app, s, out, commands);
  AddNetClientCommands(app, s, out, commands);
  AddPtzCommands(app, s, out, commands);
  AddParamCommands(app, s, out, commands);
  AddMotionCommands(app, s, out, commands);
  AddFleetCommands(app, s, out, commands);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    return app.exit(e);
  }
  out.SetJson(s.json);
  if (s.verbose) InstallLogger();
  for (const Command &c : commands) {
    if (c.app->parsed()) return c.run();
  }
  return 2;
}
