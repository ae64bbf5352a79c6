#!/usr/bin/env python3
"""A test double for the server side of TDS 7.4 on 127.0.0.1: not SQL Server.

It answers FreeTDS's login and the few statements salestotals sends, from the script named
on the command line, and appends what the client sent (and what it kept as committed) to a
log of JSON lines. It prints its port on the first line of standard output.
"""
import itertools, json, re, socket, struct, sys, threading

SCRIPT = sys.argv[1]
LOG = open(sys.argv[2], 'a', encoding='utf-8')
LOCK = threading.Lock()
TRANS_FAILS = 1  # the first batch's summary insert: error 241 ends its transaction
BIG5_COLLATION = struct.pack('<I', 0x0404 | 1 << 20 | 1 << 22 | 1 << 23) + b'\x00'
LATIN_COLLATION = struct.pack('<I', 0x0409 | 1 << 20 | 1 << 22 | 1 << 23) + b'\x34'
# Twenty Chinese characters each: 60 bytes in UTF-8, 40 in Big5.
# Error 241 as a server whose login language is Traditional Chinese words it.
MESSAGE_241 = '從字元字串轉換日期及/或時間時，轉換失敗。'
NAMES = ['營業用高級不鏽鋼雙層保溫便當盒附提袋組合', '測試用品項名稱甲乙丙丁戊己庚辛壬癸子丑寅']
SESSIONS = itertools.count(1)
# Script 'busy': another session holds every session lock, and the server says who. Script
# 'taken': as 'rollback', and another session takes the lock once the first connection ends.
HOLDER = ('WS07', 'EXAMPLE\\clerk', 'salestotals-batch (process 4242 on WS07)|2026-12-08 04:30:12')


def log(**event):
    with LOCK:
        LOG.write(json.dumps(event, ensure_ascii=False) + '\n')
        LOG.flush()


def ucs2(text):
    return text.encode('utf-16-le')


def b_varchar(text):
    return bytes([len(text)]) + ucs2(text)


def us_varchar(text):
    return struct.pack('<H', len(text)) + ucs2(text)


def envchange(kind, new=b'', old=b''):
    body = bytes([kind]) + new + old
    return b'\xe3' + struct.pack('<H', len(body)) + body


def env_text(kind, new, old=''):
    return envchange(kind, b_varchar(new), b_varchar(old))


def done(count=None, error=False):
    status = (0x10 if count is not None else 0) | (0x02 if error else 0)
    return b'\xfd' + struct.pack('<HHQ', status, 0xC1, count or 0)


def error(number, text, severity=16):
    body = struct.pack('<iBB', number, 1, severity) + us_varchar(text) + b_varchar('standin') + \
        b_varchar('') + struct.pack('<i', 1)
    return b'\xaa' + struct.pack('<H', len(body)) + body


def result_set(columns, rows, collation):
    """Columns of varchar(size) in the collation's code page, or int where size is None."""
    meta = b'\x81' + struct.pack('<H', len(columns))
    for name, size in columns:
        kind = b'\x26\x04' if size is None else b'\xa7' + struct.pack('<H', size) + collation
        meta += struct.pack('<IH', 0, 0x0009) + kind + b_varchar(name)
    data = b''
    for row in rows:
        data += b'\xd1'
        for value in row:
            if isinstance(value, int):
                data += b'\x04' + struct.pack('<i', value)
            else:
                raw = value.encode('big5')
                data += struct.pack('<H', len(raw)) + raw
    return meta + data + done(len(rows))


class Session:
    def __init__(self, sock):
        self.sock = sock
        self.tran = 0  # transaction descriptor, 0 when none
        self.pending = []
        self.next_tran = 1

    def read_message(self):
        kind, payload = None, b''
        while True:
            head = self.recv(8)
            if head is None:
                return None, None
            kind, status, length = head[0], head[1], struct.unpack('>H', head[2:4])[0]
            payload += self.recv(length - 8) or b''
            if status & 1:
                return kind, payload

    def recv(self, n):
        data = b''
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def send(self, payload, kind=4):
        for start in range(0, max(len(payload), 1), 4088):
            part = payload[start:start + 4088]
            last = start + 4088 >= len(payload)
            self.sock.sendall(struct.pack('>BBHHBB', kind, 1 if last else 0, len(part) + 8, 0, 1, 0)
                              + part)

    def serve(self):
        kind, payload = self.read_message()
        log(event='connect', kind=kind)
        if SCRIPT == 'silent':  # a server that accepts the connection and never answers
            self.sock.recv(1)
            return
        # PRELOGIN: version, then encryption not supported.
        self.send(b'\x00\x00\x0b\x00\x06\x01\x00\x11\x00\x01\xff' + b'\x10\x00\x00\x00\x00\x00\x02')
        kind, payload = self.read_message()
        if kind != 0x10:  # e.g. an integrated login that found no Kerberos ticket
            log(event='no-login', kind=kind)
            return
        self.login(payload)
        while True:
            kind, payload = self.read_message()
            if kind is None:
                if self.pending:
                    log(event='rollback', inserts=self.pending, why='disconnect')
                return
            if kind == 1:
                self.batch(payload[struct.unpack('<I', payload[:4])[0]:].decode('utf-16-le'))
            elif kind == 3:
                self.rpc(payload[struct.unpack('<I', payload[:4])[0]:])
            elif kind == 6:  # attention: acknowledged, nothing else to cancel
                self.send(b'\xfd' + struct.pack('<HHQ', 0x20, 0, 0))
            elif kind == 14:
                self.transaction(payload[struct.unpack('<I', payload[:4])[0]:])
            else:
                log(event='unknown', kind=kind)
                self.send(done())

    def login(self, p):
        def text(at):
            offset, count = struct.unpack('<HH', p[at:at + 4])
            return p[offset:offset + 2 * count].decode('utf-16-le').rstrip('\0')
        log(event='login', tds=hex(struct.unpack('<I', p[4:8])[0]), user=text(40), app=text(48),
            language=text(64), database=text(68))
        self.send(env_text(1, 'QVT', 'master') + env_text(2, 'us_english') +
                  envchange(7, b'\x05' + LATIN_COLLATION, b'\x00') + env_text(4, '4096', '4096') +
                  self.loginack() + done())

    def loginack(self):
        body = b'\x01' + b'\x74\x00\x00\x04' + b_varchar('Stand-in') + b'\x10\x00\x00\x00'
        return b'\xad' + struct.pack('<H', len(body)) + body

    def rpc(self, p):
        (length,) = struct.unpack('<H', p[:2])
        pos = 2 + (2 if length == 0xFFFF else 2 * length)
        proc = struct.unpack('<H', p[2:4])[0] if length == 0xFFFF else p[2:pos].decode('utf-16-le')
        pos += 2
        params = []
        while pos < len(p):
            value, kind, pos = read_param(p, pos)
            params.append((kind, value))
        # sp_executesql (10): statement, declarations, values; sp_prepexec (13): handle,
        # declarations, statement, values.
        at = 2 if proc == 13 else 0
        sql = params[at][1] if proc in (10, 13) else ''
        values = params[3:] if proc == 13 else params[2:]
        log(event='rpc', proc=proc, sql=sql, types=[k for k, _ in values], values=[v for _, v in values])
        self.statement(sql, [v for _, v in values])

    def batch(self, sql):
        log(event='batch', sql=sql)
        self.statement(sql, [])

    def statement(self, sql, values):
        lower = ' '.join(sql.lower().split())
        if 'sp_getapplock' in lower or 'sp_releaseapplock' in lower:
            self.applock(sql, lower)
        elif 'dm_tran_locks' in lower:
            log(event='holder', session=self.session())
            columns = [('host_name', 30), ('login_name', 30), ('holder', 128)]
            self.send(result_set(columns, [HOLDER] if SCRIPT == 'busy' else [], LATIN_COLLATION))
        elif 'fcmsfl' in lower:
            # An int among the texts, as the ERP's tables have.
            rows = [['40', 7 + i, 'A%03d' % i, name] for i, name in enumerate(NAMES)]
            columns = [('FL000', 2), ('FL010', None), ('FL001', 20), ('FL002', 40)]
            self.send(result_set(columns, rows, BIG5_COLLATION))
        elif 'from fadmxy' in lower and lower.startswith('select'):
            log(event='check', session=self.session(), tran=self.tran, sql=sql)
            self.send(result_set([('XY001', 10)], [], LATIN_COLLATION))
        elif lower.startswith('insert'):
            self.insert(sql, values)
        else:
            self.send(done())

    def insert(self, sql, values):
        global TRANS_FAILS
        if SCRIPT in ('rollback', 'taken') and TRANS_FAILS and self.tran:
            TRANS_FAILS -= 1
            ended = envchange(10, b'\x00', b'\x08' + struct.pack('<Q', self.tran))
            log(event='rollback', inserts=self.pending, why='error 241')
            self.pending, self.tran = [], 0
            self.send(error(241, MESSAGE_241) + ended + done(error=True))
            return
        row = {'sql': sql, 'values': values, 'session': self.session(), 'tran': self.tran}
        if self.tran:
            self.pending.append(row)
        else:
            log(event='commit', inserts=[row], why='autocommit')
        self.send(done(3))

    def session(self):
        """A number per connection, in the order of their first statements."""
        if not hasattr(self, 'number'):
            self.number = next(SESSIONS)
        return self.number

    def applock(self, sql, lower):
        """No lock is held: every request is granted, except the session locks of 'busy'."""
        def argument(name):
            found = re.search(r"@%s\s*=\s*N?'?([^',;]*)" % name, sql, re.IGNORECASE)
            return found.group(1) if found else None
        event = dict(session=self.session(), tran=self.tran, resource=argument('Resource'),
                     owner=argument('LockOwner'))
        if 'sp_releaseapplock' in lower:
            log(event='release', **event)
            self.send(done())
            return
        timeout = argument('LockTimeout')
        log(event='applock', mode=argument('LockMode'),
            timeout=int(timeout) if timeout else None, **event)
        taken = SCRIPT == 'busy' or (SCRIPT == 'taken' and self.session() > 1)
        result = -1 if taken and event['owner'] == 'Session' else 0
        self.send(result_set([('result', None)], [[result]], LATIN_COLLATION))

    def transaction(self, p):
        request = struct.unpack('<H', p[:2])[0]
        out = b''
        if request == 5:
            out += self.begin()
        elif request in (7, 8):
            begin_again = p[3] if len(p) > 3 and p[2] == 0 else 0
            if not self.tran:
                verb = 'COMMIT' if request == 7 else 'ROLLBACK'
                number = 3902 if request == 7 else 3903
                self.send(error(number, 'The %s TRANSACTION request has no corresponding BEGIN TRANSACTION.'
                                % verb) + done(error=True))
                return
            log(event='commit' if request == 7 else 'rollback', inserts=self.pending, why='request')
            old = b'\x08' + struct.pack('<Q', self.tran)
            self.pending, self.tran = [], 0
            out += envchange(9 if request == 7 else 10, b'\x00', old)
            if begin_again:
                out += self.begin()
        self.send(out + done())

    def begin(self):
        self.tran, self.next_tran = self.next_tran, self.next_tran + 1
        return envchange(8, b'\x08' + struct.pack('<Q', self.tran), b'\x00')


def read_param(p, pos):
    """One RPC parameter as FreeTDS sends them: int, ntext (statements) or varchar."""
    pos += 1 + p[pos] * 2 + 1  # name, status flags
    kind = p[pos]
    if kind == 0x26:  # INTN: size, then a value of its own size
        size = p[pos + 2]
        return int.from_bytes(p[pos + 3:pos + 3 + size], 'little', signed=True) if size else None, \
            'int', pos + 3 + size
    if kind == 0x63:  # NTEXT: size, collation, value of a 4-byte length
        (size,) = struct.unpack('<i', p[pos + 10:pos + 14])
        return (p[pos + 14:pos + 14 + size].decode('utf-16-le') if size >= 0 else None), 'ntext', \
            pos + 14 + max(size, 0)
    if kind == 0xA7:  # BIGVARCHAR: size, collation, value of a 2-byte length
        (size,) = struct.unpack('<H', p[pos + 8:pos + 10])
        if size == 0xFFFF:
            return None, 'varchar', pos + 10
        return p[pos + 10:pos + 10 + size].decode('latin-1'), 'varchar', pos + 10 + size
    raise ValueError('parameter type 0x%02x' % kind)


def main():
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', 0))
    server.listen(8)
    print(server.getsockname()[1], flush=True)
    while True:
        sock, _ = server.accept()
        threading.Thread(target=serve, args=(sock,), daemon=True).start()


def serve(sock):
    try:
        Session(sock).serve()
    except Exception as e:  # the client sees the connection end, the test the reason
        log(event='standin-error', error=repr(e))
    sock.close()


if __name__ == '__main__':
    main()
