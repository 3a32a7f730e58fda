"""The model line-up, read from the same data file that the Morvane library ships."""

import os

FIELDS_INT = ("CamNum", "ComNum", "DiNum", "DoNum", "VideoCodec", "AudioCodec", "MDWinNum",
              "DefaultQuality", "DefaultProtocol", "DefaultMediaType", "Flag")
FIELDS_TEXT = ("VideoUrl", "RxUrl", "TxUrl", "QuadUrl", "PtzUrl", "RecallUrl", "PresetUrl",
               "GetDiUrl", "SetDoUrl", "UartUrl", "DefaultVSize")


class Model:
    """One model: its server type, its record fields and how it serves its configuration."""

    def __init__(self, name):
        self.name = name
        self.fields = {k: 0 for k in FIELDS_INT}
        self.fields.update({k: "" for k in FIELDS_TEXT})
        self.maps_to = ""
        self.config_by = "cgi"

    @property
    def series(self):
        """The model generation: the third character of the server type ("KM7150" counts as 6)."""
        return "6" if self.name.startswith("KM7150") else self.name[2]

    def __getitem__(self, key):
        return self.fields[key]


def default_models_file():
    """MORVANE_MODELS_FILE, else the file of the source tree next to this simulator, else
    the installed one (share/kavrel/morvane-models.ini, two folders above the package)."""
    env = os.environ.get("MORVANE_MODELS_FILE")
    if env:
        return env
    here = os.path.dirname(os.path.abspath(__file__))
    source = os.path.normpath(os.path.join(here, "..", "..", "..", "Morvane", "data",
                                           "morvane-models.ini"))
    if os.path.exists(source):
        return source
    return os.path.normpath(os.path.join(here, "..", "..", "morvane-models.ini"))


def load(path=None):
    """Reads the line-up: {server type: Model}. Raises ValueError on a malformed file."""
    path = path or default_models_file()
    models = {}
    current = None
    with open(path, encoding="ascii") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                if not line.endswith("]"):
                    raise ValueError(f"{path}:{number}: unterminated section name")
                current = Model(line[1:-1])
                models[current.name] = current
                continue
            key, sep, value = line.partition("=")
            key, value = key.strip(), value.strip()
            if not sep or current is None:
                raise ValueError(f"{path}:{number}: expected Key = value inside a model")
            if key == "MapsTo":
                current.maps_to = value
            elif key == "ConfigBy":
                current.config_by = value
            elif key in FIELDS_INT:
                current.fields[key] = int(value)
            elif key in FIELDS_TEXT:
                current.fields[key] = value
            else:
                raise ValueError(f"{path}:{number}: unknown key {key}")
    return models
