#!/usr/bin/python3
"""Prints the stacks of the threads in a Windows x64 minidump, one frame a line.

Usage: dumpstack.py DUMP [SYMBOL_FOLDER ...]

The faulting thread is unwound from the exception's context, every thread from its own context,
with the x64 unwind data (.pdata/.xdata) of the module each frame is in: read from the dump's
memory where the dump holds the module's image (full-memory dumps do), else from the module's
file found in the folders. Where neither is there, the rest of that stack is a scan for values
that point into a module's code, and says so. A frame prints as

    #n  module  function+0xoffset  file:line

with the function and source line from the module's own debug information or from the symbol
file its debug link names (looked for in the folders), resolved with x86_64-w64-mingw32-addr2line;
a module without symbols prints as module+0xoffset.
"""

import bisect
import mmap
import os
import struct
import subprocess
import sys
import zlib

ADDR2LINE = "x86_64-w64-mingw32-addr2line"
NM = "x86_64-w64-mingw32-nm"
OBJDUMP = "x86_64-w64-mingw32-objdump"

THREAD_LIST, MODULE_LIST, MEMORY_LIST, EXCEPTION, MEMORY64_LIST = 3, 4, 5, 6, 9
CONTEXT_RIP = 248
CONTEXT_GPR = 120  # Rax; the unwind codes' register numbers follow this order
REGISTER_NAMES = ["rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi"] + ["r%d" % n for n in range(8, 16)]
MAX_FRAMES = 256


class DumpError(Exception):
    pass


class Minidump:
    """The streams of a minidump file and the process memory it holds."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
        if self.data[:4] != b"MDMP":
            raise DumpError("%s is not a minidump" % path)
        count, directory = struct.unpack_from("<II", self.data, 8)
        self.streams = {}
        for i in range(count):
            kind, size, rva = struct.unpack_from("<III", self.data, directory + 12 * i)
            self.streams.setdefault(kind, (rva, size))
        self.ranges = []  # (start, size, file offset), sorted by start
        self._read_memory_lists()
        self.modules = self._read_modules()
        self.threads = self._read_threads()
        self.exception = self._read_exception()

    def _read_memory_lists(self):
        if MEMORY64_LIST in self.streams:
            rva, _ = self.streams[MEMORY64_LIST]
            count, offset = struct.unpack_from("<QQ", self.data, rva)
            for i in range(count):
                start, size = struct.unpack_from("<QQ", self.data, rva + 16 + 16 * i)
                self.ranges.append((start, size, offset))
                offset += size
        if MEMORY_LIST in self.streams:
            rva, _ = self.streams[MEMORY_LIST]
            (count,) = struct.unpack_from("<I", self.data, rva)
            for i in range(count):
                start, size, offset = struct.unpack_from("<QII", self.data, rva + 4 + 16 * i)
                self.ranges.append((start, size, offset))
        self.ranges.sort()
        self.starts = [r[0] for r in self.ranges]

    def read(self, address, size):
        """The bytes at address, or None when the dump does not hold all of them."""
        out = b""
        while size > 0:
            i = bisect.bisect_right(self.starts, address) - 1
            if i < 0:
                return None
            start, length, offset = self.ranges[i]
            if address >= start + length:
                return None
            take = min(size, start + length - address)
            out += self.data[offset + address - start:offset + address - start + take]
            address += take
            size -= take
        return out

    def u64(self, address):
        raw = self.read(address, 8)
        return None if raw is None else struct.unpack("<Q", raw)[0]

    def _string(self, rva):
        (length,) = struct.unpack_from("<I", self.data, rva)
        return self.data[rva + 4:rva + 4 + length].decode("utf-16-le", "replace")

    def _entries(self, kind, entry_size):
        """The file offsets of the entries of a list stream (a 32-bit count, then the entries)."""
        if kind not in self.streams:
            return []
        rva, _ = self.streams[kind]
        (count,) = struct.unpack_from("<I", self.data, rva)
        return [rva + 4 + entry_size * i for i in range(count)]

    def _read_modules(self):
        modules = []
        for entry in self._entries(MODULE_LIST, 108):
            base, size, _, _, name = struct.unpack_from("<QIIII", self.data, entry)
            modules.append(Module(self, base, size, self._string(name)))
        modules.sort(key=lambda m: m.base)
        return modules

    def _context(self, size, rva):
        if size < CONTEXT_RIP + 8:
            return None
        raw = self.data[rva:rva + size]
        registers = {name: struct.unpack_from("<Q", raw, CONTEXT_GPR + 8 * n)[0]
                     for n, name in enumerate(REGISTER_NAMES)}
        registers["rip"] = struct.unpack_from("<Q", raw, CONTEXT_RIP)[0]
        return registers

    def _read_threads(self):
        threads = []
        for entry in self._entries(THREAD_LIST, 48):
            tid = struct.unpack_from("<I", self.data, entry)[0]
            stack_start, stack_size, _ = struct.unpack_from("<QII", self.data, entry + 24)
            context_size, context_rva = struct.unpack_from("<II", self.data, entry + 40)
            threads.append((tid, self._context(context_size, context_rva), stack_start + stack_size))
        return threads

    def _read_exception(self):
        if EXCEPTION not in self.streams:
            return None
        rva, _ = self.streams[EXCEPTION]
        tid, _, code, flags, _, address = struct.unpack_from("<IIIIQQ", self.data, rva)
        context_size, context_rva = struct.unpack_from("<II", self.data, rva + 160)
        return {"thread": tid, "code": code, "address": address,
                "context": self._context(context_size, context_rva)}

    def module_at(self, address):
        i = bisect.bisect_right([m.base for m in self.modules], address) - 1
        if i >= 0 and address < self.modules[i].base + self.modules[i].size:
            return self.modules[i]
        return None


class PeFile:
    """A module's file on disk, read by relative virtual address like its image in memory."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        header = struct.unpack_from("<I", self.data, 0x3C)[0]
        sections, optional_size = struct.unpack_from("<H12xH", self.data, header + 6)
        table = header + 24 + optional_size
        self.sections = []
        for i in range(sections):
            _, virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", self.data, table + 40 * i)
            self.sections.append((virtual_address, max(virtual_size, raw_size), raw_size, raw_offset))

    def read_rva(self, rva, size):
        if rva + size <= 0x1000:
            return self.data[rva:rva + size]
        for virtual_address, virtual_size, raw_size, raw_offset in self.sections:
            if virtual_address <= rva and rva + size <= virtual_address + virtual_size:
                start = rva - virtual_address
                raw = self.data[raw_offset + start:raw_offset + min(start + size, raw_size)]
                return raw + b"\0" * (size - len(raw))
        return None


class Module:
    """A loaded module: its unwind data, code sections, debug link and symbols."""

    def __init__(self, dump, base, size, path):
        self.dump, self.base, self.size, self.path = dump, base, size, path
        self.name = path.replace("\\", "/").rsplit("/", 1)[-1]
        self.file_path = None    # the module's file found in the folders
        self.file = None         # and read as a PeFile
        self.source = None       # "memory", "file" or None: where the image was read from
        self.functions = None    # sorted RUNTIME_FUNCTION entries (begin, end, unwind info)
        self.code = []           # executable sections (rva, size)
        self.debuglink = None    # (file name, crc32)
        self.image_base = base   # the address the module's file was linked for
        self.symbols = None      # file with debug information, or None
        self.symbol_starts = None

    def read_rva(self, rva, size):
        if self.source == "memory":
            return self.dump.read(self.base + rva, size)
        if self.source == "file" and self.file is not None:
            return self.file.read_rva(rva, size)
        return None

    def load(self, folders):
        """Finds the image (dump memory first, then the folders) and reads its headers."""
        self.file_path = find_file(self.name, folders)
        if self.file_path:
            try:
                self.file = PeFile(self.file_path)
            except (OSError, struct.error):
                self.file = None
        for source in ("memory", "file"):
            self.source = source
            try:
                if self._read_headers():
                    break
            except (struct.error, IndexError, UnicodeDecodeError):
                pass  # damaged headers: as if the image were not there
        else:
            self.source = None
            self.functions = None
        self.symbols = self._find_symbols(folders)

    def _read_headers(self):
        dos = self.read_rva(0, 0x40)
        if not dos or dos[:2] != b"MZ":
            return False
        header = struct.unpack_from("<I", dos, 0x3C)[0]
        fixed = self.read_rva(header, 24 + 240)
        if not fixed or fixed[:4] != b"PE\0\0":
            return False
        sections, optional_size = struct.unpack_from("<H12xH", fixed, 6)
        magic = struct.unpack_from("<H", fixed, 24)[0]
        if magic != 0x20B:
            return False
        self.image_base = struct.unpack_from("<Q", fixed, 24 + 24)[0]
        pdata_rva, pdata_size = struct.unpack_from("<II", fixed, 24 + 112 + 8 * 3)
        table = self.read_rva(header + 24 + optional_size, 40 * sections) or b""
        for i in range(len(table) // 40):
            name, virtual_size, virtual_address = struct.unpack_from("<8sII", table, 40 * i)
            flags = struct.unpack_from("<I", table, 40 * i + 36)[0]
            if flags & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
                self.code.append((virtual_address, virtual_size))
            if name[:1] == b"/" and virtual_size <= 0x200:
                # A long section name lives in the file's string table, which is not mapped:
                # .gnu_debuglink is known by its content, a file name padded to four bytes and a CRC.
                link = self.read_rva(virtual_address, virtual_size) or b""
                file_name = link.split(b"\0", 1)[0]
                crc_offset = (len(file_name) + 4) & ~3
                if (file_name and crc_offset + 4 == virtual_size and file_name.isascii()
                        and not link[len(file_name):crc_offset].strip(b"\0")):
                    self.debuglink = (file_name.decode(), struct.unpack_from("<I", link, crc_offset)[0])
        pdata = self.read_rva(pdata_rva, pdata_size) if pdata_size else b""
        if pdata is None:
            return False
        self.functions = [struct.unpack_from("<III", pdata, 12 * i) for i in range(len(pdata) // 12)]
        self.function_starts = [f[0] for f in self.functions]
        return True

    def _find_symbols(self, folders):
        if self.file_path and has_debug_info(self.file_path):
            return self.file_path
        if self.debuglink:
            name, crc = self.debuglink
            search = list(folders)
            if self.file_path:
                search.insert(0, os.path.dirname(self.file_path))
            path = find_file(name, search)
            if path:
                with open(path, "rb") as f:
                    if zlib.crc32(f.read()) == crc:
                        return path
                print("dumpstack: %s does not match %s (its CRC differs); not used" % (path, self.name),
                      file=sys.stderr)
        return None

    def runtime_function(self, rva):
        i = bisect.bisect_right(self.function_starts, rva) - 1
        if i >= 0 and rva < self.functions[i][1]:
            return self.functions[i]
        return None

    def in_code(self, rva):
        return any(start <= rva < start + size for start, size in self.code) if self.code else True

    def function_start(self, rva):
        """The start of the named function holding rva, from the symbol table, or None."""
        if self.symbol_starts is None:
            self.symbol_starts = []
            if self.symbols:
                out = subprocess.run([NM, "--defined-only", self.symbols], capture_output=True, text=True).stdout
                for line in out.splitlines():
                    parts = line.split()
                    if len(parts) == 3 and parts[1] in "Tt":
                        self.symbol_starts.append(int(parts[0], 16) - self.image_base)
                self.symbol_starts.sort()
        i = bisect.bisect_right(self.symbol_starts, rva) - 1
        return self.symbol_starts[i] if i >= 0 else None


def find_file(name, folders):
    for folder in folders:
        try:
            entries = os.listdir(folder)
        except OSError:
            continue
        for entry in entries:
            if entry.lower() == name.lower():
                return os.path.join(folder, entry)
    return None


def has_debug_info(path):
    out = subprocess.run([OBJDUMP, "-h", path], capture_output=True, text=True).stdout
    return any(line.split()[1:2] == [".debug_info"] for line in out.splitlines())


class Unwinder:
    """x64 unwinding of one frame at a time with the modules' unwind data."""

    def __init__(self, dump):
        self.dump = dump

    def step(self, registers):
        """The caller's registers, "leaf" handled as a return at the stack pointer; None at the end.
        Raises LookupError when the frame's module has no unwind data to read."""
        rip = registers["rip"]
        module = self.dump.module_at(rip)
        if module is None or module.functions is None:
            raise LookupError
        rva = rip - module.base
        entry = module.runtime_function(rva)
        caller = dict(registers)
        if entry is None:  # a leaf function: nothing pushed but the return address
            return self._return(caller)
        offset_in_function = rva - entry[0]
        for depth in range(32):
            machine_frame = self._apply(module, entry[2], offset_in_function, caller)
            if machine_frame:
                return caller
            info = module.read_rva(entry[2], 4)
            flags = info[0] >> 3
            if not flags & 4:  # UNW_FLAG_CHAININFO
                break
            count = info[2]
            chained = module.read_rva(entry[2] + 4 + 2 * ((count + 1) & ~1), 12)
            entry = struct.unpack("<III", chained)
            offset_in_function = 1 << 30  # a chained entry's prolog has run in full
        return self._return(caller)

    def _return(self, registers):
        address = self.dump.u64(registers["rsp"])
        if address is None:
            return None
        registers["rip"] = address
        registers["rsp"] += 8
        return registers

    def _apply(self, module, info_rva, offset, registers):
        """Undoes one UNWIND_INFO's prolog; True when it ended in a machine frame (rip set)."""
        info = module.read_rva(info_rva, 4)
        if info is None:
            raise LookupError
        prolog_size, count, frame = info[1], info[2], info[3]
        raw = module.read_rva(info_rva + 4, 2 * count) or b""
        # (prolog offset, operation, operation info, operand): slots in use per operation.
        codes = []
        i = 0
        while i < len(raw) // 2:
            code_offset, op = raw[2 * i], raw[2 * i + 1]
            operation, op_info = op & 0x0F, op >> 4
            size = {1: 2 if op_info == 0 else 3, 4: 2, 5: 3, 6: 2, 7: 3, 8: 2, 9: 3}.get(operation, 1)
            operand = raw[2 * i + 2:2 * i + 2 * size]
            operand = int.from_bytes(operand, "little") if operand else 0
            codes.append((code_offset, operation, op_info, operand))
            i += size
        in_prolog = offset < prolog_size
        done = [c for c in codes if not in_prolog or c[0] <= offset]
        # Saved registers are addressed from the frame register once the prolog has set it.
        base = registers["rsp"]
        frame_register, frame_offset = frame & 0x0F, (frame >> 4) * 16
        if frame_register and any(c[1] == 3 for c in done):
            base = registers[REGISTER_NAMES[frame_register]] - frame_offset
        for _, operation, op_info, operand in done:
            if operation == 0:  # UWOP_PUSH_NONVOL
                registers[REGISTER_NAMES[op_info]] = self._load(registers["rsp"])
                registers["rsp"] += 8
            elif operation == 1:  # UWOP_ALLOC_LARGE
                registers["rsp"] += operand * 8 if op_info == 0 else operand
            elif operation == 2:  # UWOP_ALLOC_SMALL
                registers["rsp"] += op_info * 8 + 8
            elif operation == 3:  # UWOP_SET_FPREG
                registers["rsp"] = base
            elif operation == 4:  # UWOP_SAVE_NONVOL
                registers[REGISTER_NAMES[op_info]] = self._load(base + operand * 8)
            elif operation == 5:  # UWOP_SAVE_NONVOL_FAR
                registers[REGISTER_NAMES[op_info]] = self._load(base + operand)
            elif operation == 10:  # UWOP_PUSH_MACHFRAME: the interrupted rip and rsp
                top = registers["rsp"] + (8 if op_info else 0)
                registers["rip"] = self._load(top)
                registers["rsp"] = self._load(top + 24)
                return True
            # The XMM saves and version 2's epilog descriptions change no integer register.
        return False

    def _load(self, address):
        value = self.dump.u64(address)
        if value is None:
            raise LookupError
        return value


def stack_scan(dump, rsp, stack_end):
    """Return-address candidates on the stack from rsp: values pointing into a module's code."""
    found = []
    end = min(stack_end or rsp + 0x10000, rsp + 0x40000)
    for address in range(rsp, end, 8):
        value = dump.u64(address)
        if value is None:
            break
        module = dump.module_at(value)
        if module is not None and module.in_code(value - module.base):
            found.append(value)
    return found


def walk(dump, registers, stack_end):
    """[(address, how)] from the innermost frame outwards; how is "context" for the context's own
    instruction pointer, "" for a return address found by unwinding, "scan" by scanning."""
    frames = [(registers["rip"], "context")]
    unwinder = Unwinder(dump)
    while len(frames) < MAX_FRAMES:
        try:
            caller = unwinder.step(registers)
        except (LookupError, struct.error, TypeError):
            frames += [(address, "scan") for address in stack_scan(dump, registers["rsp"], stack_end)]
            break
        if caller is None or caller["rip"] == 0 or dump.module_at(caller["rip"]) is None:
            break
        if caller["rsp"] <= registers["rsp"] and caller["rip"] == registers["rip"]:
            break  # no progress: corrupt data
        frames.append((caller["rip"], ""))
        registers = caller
    return frames[:MAX_FRAMES]


def frames_below(dump, context, reach=0x10000):
    """The calls a thread made below a recorded context, for a thread recorded with the exception's
    context while it was in fact writing the dump (as some dump writers record the writing thread):
    the deepest value on the stack below the context from which unwinding leads back to exactly
    that context, and the frames on the way, innermost first, without the context's own frame."""
    unwinder = Unwinder(dump)
    for slot in range(context["rsp"] - reach, context["rsp"], 8):
        value = dump.u64(slot)
        module = dump.module_at(value) if value is not None else None
        if module is None or not module.in_code(value - module.base):
            continue
        registers = dict(context, rip=value, rsp=slot + 8)
        chain = [value]
        for _ in range(MAX_FRAMES):
            try:
                caller = unwinder.step(registers)
            except (LookupError, struct.error, TypeError):
                break
            if caller is None or caller["rsp"] <= registers["rsp"] or caller["rsp"] > context["rsp"]:
                break
            if caller["rsp"] == context["rsp"] and caller["rip"] == context["rip"]:
                return chain
            chain.append(caller["rip"])
            registers = caller
    return []


class Symbolizer:
    """Function names and source lines with addr2line, one run per module and stack."""

    def resolve(self, module, addresses):
        if not module.symbols:
            return {a: None for a in addresses}
        vmas = [module.image_base + a - module.base for a in addresses]
        out = subprocess.run([ADDR2LINE, "-f", "-C", "-e", module.symbols] + ["%x" % v for v in vmas],
                             capture_output=True, text=True).stdout.splitlines()
        result = {}
        for n, address in enumerate(addresses):
            function, location = (out[2 * n:2 * n + 2] + ["??", "??:0"])[:2]
            result[address] = None if function == "??" else (function, location.split(" (")[0])
        return result


def describe(dump, frames):
    """The printed lines for a walked stack."""
    by_module = {}
    # A return address is after its call: look up the call itself.
    lookups = [address if how == "context" else address - 1 for address, how in frames]
    for address, lookup in zip((f[0] for f in frames), lookups):
        module = dump.module_at(address)
        if module is not None:
            by_module.setdefault(module, []).append(lookup)
    names = {}
    symbolizer = Symbolizer()
    for module, addresses in by_module.items():
        names.update({(module, a): name for a, name in symbolizer.resolve(module, addresses).items()})
    lines = []
    scan_said = False
    for n, (address, how) in enumerate(frames):
        if how == "scan" and not scan_said:
            lines.append("    -- no unwind data from here on: stack scan, frames may be false --")
            scan_said = True
        module = dump.module_at(address)
        if module is None:
            lines.append(" #%-2d %016x" % (n, address))
            continue
        lookup = lookups[n]
        name = names.get((module, lookup))
        if name is None:
            lines.append(" #%-2d %s+0x%x" % (n, module.name, address - module.base))
            continue
        function, location = name
        start = module.function_start(lookup - module.base)
        offset = "+0x%x" % (address - module.base - start) if start is not None else ""
        where = "" if location.startswith("??") else "  " + location
        lines.append(" #%-2d %s  %s%s%s" % (n, module.name, function, offset, where))
    return lines


def main(argv):
    if len(argv) < 2 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) >= 2 else 2
    folders = argv[2:]
    try:
        dump = Minidump(argv[1])
    except (OSError, DumpError, struct.error) as error:
        print("dumpstack: %s" % error, file=sys.stderr)
        return 1
    for module in dump.modules:
        module.load(folders)

    print("Modules:")
    for module in dump.modules:
        where = {"memory": "unwind data from the dump", "file": "unwind data from " + (module.file_path or ""),
                 None: "no unwind data"}[module.source]
        symbols = "symbols from " + module.symbols if module.symbols else "no symbols"
        print("  %016x %-28s %s; %s" % (module.base, module.name, where, symbols))

    stack_ends = {tid: end for tid, _, end in dump.threads}
    exception = dump.exception
    if exception and exception["context"]:
        print("\nException 0x%08x at %016x in thread %d; its stack from the exception's context:"
              % (exception["code"], exception["address"], exception["thread"]))
        for line in describe(dump, walk(dump, dict(exception["context"]), stack_ends.get(exception["thread"]))):
            print(line)
    for tid, context, end in dump.threads:
        if context is None:
            continue
        frames = walk(dump, dict(context), end)
        if exception and tid == exception["thread"] and context == exception["context"]:
            below = frames_below(dump, context)
            if below:
                print("\nThread %d (wrote the dump; recorded with the exception's context, its calls above"
                      " that found by scanning the stack and unwinding back to it):" % tid)
                frames = [(address, "") for address in below] + frames
            else:
                print("\nThread %d:" % tid)
        else:
            print("\nThread %d:" % tid)
        for line in describe(dump, frames):
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
