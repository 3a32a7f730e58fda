"""Digital inputs and outputs, at the model's GetDiUrl and SetDoUrl paths.

Inputs: one line per input, "DI=H" for a single-input model (or "DI1=H" when the device's
di_form is "indexed"), "DI1=H", "DI2=L" ... for more inputs, each ended by CR LF; levels H
or L. The letter case ("upper" or "lower") and the levels are set through the control port.

Outputs: the query names each output twice, "doN=c|o" (closed or open) then "doN=h|l"
(level), or, on series-3 devices, "do=h|l" for output 1. The device keeps each output's
level; a name or value it does not know gets 400 and changes nothing.
"""

import re

from . import Reply, registry

_DO_NAME = re.compile(r"do(\d*)$")


@registry.model_path("GetDiUrl")
def get_di(req):
    d = req.device
    with d.lock:
        levels = list(d.di_levels)
        case, form = d.di_case, d.di_form
    count = d.model["DiNum"]
    if count == 1 and form == "short":
        names = ["DI"]
    else:
        names = [f"DI{n}" for n in range(1, count + 1)]
    text = "".join(f"{name}={'H' if levels[i] else 'L'}\r\n" for i, name in enumerate(names))
    return Reply(text.lower() if case == "lower" else text)


def _parse_outputs(pairs, count):
    """{output number: level 0/1} from the query, or None when it holds something unknown."""
    levels = {}
    for name, value in pairs:
        m = _DO_NAME.match(name)
        if not m:
            return None
        number = int(m.group(1)) if m.group(1) else 1
        if not 1 <= number <= count or value not in ("c", "o", "h", "l"):
            return None
        if value in ("h", "l"):
            levels[number] = 1 if value == "h" else 0
    return levels


@registry.model_path("SetDoUrl")
def set_do(req):
    d = req.device
    levels = _parse_outputs(req.pairs, d.model["DoNum"])
    if levels is None or not req.pairs:
        return Reply("ERROR: bad output request\r\n", status=400)
    with d.lock:
        for number, level in levels.items():
            d.do_levels[number - 1] = level
    return Reply("OK\r\n")
