#!/usr/bin/env python3
"""A test double for the server side of TDS 7.4 on 127.0.0.1: not SQL Server.

It answers FreeTDS's login and the few statements salestotals sends, from the script named
on the command line, and appends what the client sent (and what it kept as committed) to a
log of JSON lines. It prints its port on the first line of standard output, and ends when
its standard input does (its test is gone); a line 'drop' on it breaks every session.

It models what the run lock relies on, as SQL Server documents it: each session's
@@TRANCOUNT (TDS transaction-manager requests, IMPLICIT_TRANSACTIONS, BEGIN/COMMIT/ROLLBACK),
application locks owned by a transaction or a session, and the summary and completion rows
that count only once committed, keyed by batch code (the cases use one period).

--realm DIR makes a Kerberos realm in DIR first (see Realm) and accepts integrated logins
with its service keytab; --tls DIR requires encryption (see certificates).
"""
import argparse, ctypes, itertools, json, os, re, shutil, signal, socket, ssl, struct, \
    subprocess, sys, threading, time

ARGS = argparse.ArgumentParser()
ARGS.add_argument('script')
ARGS.add_argument('log')
ARGS.add_argument('--port', type=int, default=0, help='0: any free port')
ARGS.add_argument('--realm', metavar='DIR')
ARGS.add_argument('--service', help='the service principal the KDC knows '
                  '(default MSSQLSvc/localhost:PORT)')
ARGS.add_argument('--tls', metavar='DIR', help='require encryption, certificates in DIR')
ARGS.add_argument('--impostor', action='store_true',
                  help='present a self-signed certificate instead of the one DIR/ca.pem signed')
OPTIONS = ARGS.parse_args()
SCRIPT = OPTIONS.script
LOG = open(OPTIONS.log, 'a', encoding='utf-8')
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
# The model, under STATE: application locks (resource -> (session, owner)), the batch codes of
# the committed rows of the two tables, the sessions connected. PHANTOM is another client's
# session, which never lets go.
STATE = threading.Condition()
PHANTOM = object()
RUN_LOCK = 'salestotals run C_QVT'
LOCKS = {RUN_LOCK: (PHANTOM, 'Session')} if SCRIPT == 'busy' else {}
TABLES = {'fadmxx': [], 'fadmxy': []}
LIVE = set()
# What moves @@TRANCOUNT, and the statements that open a transaction in implicit mode.
WORDS = re.compile(r"set implicit_transactions (on|off)|if @@trancount > 0 (commit|rollback)"
                   r"(?: tran(?:saction)?)?|\bbegin tran(?:saction)?\b|\b(commit|rollback)"
                   r"(?: tran(?:saction)?)?\b|\bsp_getapplock\b|\bsp_releaseapplock\b|"
                   r"\bapplock_mode\b|set lock_timeout (-?\d+)|set transaction isolation level "
                   r"(snapshot|read committed)|if @@trancount <> 1 set @result = (-\d+) - "
                   r"@@trancount else|\b(?:alter|create|delete|drop|fetch|grant|insert|open|"
                   r"revoke|select|truncate|update)\b")
# A SELECT opens an implicit transaction only when it reads a table. The documentation says
# nothing of one whose WHERE is always false: taken as opening none, so that nothing relies on it.
READS_TABLE = re.compile(r"[^;]*?\bfrom (?!\()(?![^;]*\bwhere 1 = 0\b)")
# Script 'locked': another session keeps source rows of COPTC locked until a reader gives up.
ROWS_LOCKED = [SCRIPT == 'locked']
MESSAGE_1222 = 'Lock request time out period exceeded.'


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


def info(text, number=50000, severity=0):
    """An informational message: severity 0 as a trigger's PRINT sends it, or up to 10."""
    body = struct.pack('<iBB', number, 1, severity) + us_varchar(text) + b_varchar('standin') + \
        b_varchar('') + struct.pack('<i', 1)
    return b'\xab' + struct.pack('<H', len(body)) + body


def lock_stream(result):
    """The lock request's answer as a server sends it under NOCOUNT: a DONE for its statements
    before the EXEC, the procedure's DONEINPROCs, its RETURNSTATUS and DONEPROC, a message of
    severity 10, then the SELECT's rows."""
    more = struct.pack('<HHQ', 0x01, 0xC1, 0)
    return b'\xfd' + more + b'\xff' + more + b'\xff' + more + b'\x79' + \
        struct.pack('<i', result) + b'\xfe' + more + \
        info('Lock request answered.', 50001, 10) + \
        result_set([('result', None)], [[result]], LATIN_COLLATION)


def prelogin_option(payload, wanted):
    """The first byte of a PRELOGIN option, or None."""
    pos = 0
    while payload and pos + 5 <= len(payload) and payload[pos] != 0xFF:
        option, offset = payload[pos], struct.unpack('>H', payload[pos + 1:pos + 3])[0]
        if option == wanted and offset < len(payload):
            return payload[offset]
        pos += 5
    return None


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
        self.trancount = 0  # @@TRANCOUNT
        self.lock_timeout, self.isolation = -1, 'read committed'  # the server's defaults
        self.implicit = False  # SET IMPLICIT_TRANSACTIONS
        self.pending, self.deletes = [], []  # rows inserted, tables emptied: not committed
        self.next_tran = 1
        self.tls = None  # once the handshake is done: TDS packets go inside TLS records
        self.plain = b''

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
        while len(self.plain) < n:
            if self.tls:
                try:
                    self.plain += self.tls.read(65536)
                    continue
                except ssl.SSLWantReadError:
                    pass
                except ssl.SSLZeroReturnError:
                    return None
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            if self.tls:
                self.tls_in.write(chunk)
            else:
                self.plain += chunk
        data, self.plain = self.plain[:n], self.plain[n:]
        return data

    def send(self, payload, kind=4):
        for start in range(0, max(len(payload), 1), 4088):
            part = payload[start:start + 4088]
            last = start + 4088 >= len(payload)
            packet = struct.pack('>BBHHBB', kind, 1 if last else 0, len(part) + 8, 0, 1, 0) + part
            if self.tls:
                self.tls.write(packet)
                packet = self.tls_out.read()
            self.sock.sendall(packet)

    def serve(self):
        kind, payload = self.read_message()
        log(event='connect', kind=kind, encryption=prelogin_option(payload, 1))
        if SCRIPT == 'silent':  # a server that accepts the connection and never answers
            self.sock.recv(1)
            return
        # PRELOGIN: version, then encryption required (3) or not supported (2).
        self.send(b'\x00\x00\x0b\x00\x06\x01\x00\x11\x00\x01\xff' + b'\x10\x00\x00\x00\x00\x00' +
                  (b'\x03' if OPTIONS.tls else b'\x02'))
        if OPTIONS.tls and not self.handshake():
            return
        kind, payload = self.read_message()
        if kind != 0x10:  # e.g. an integrated login that found no Kerberos ticket
            log(event='no-login', kind=kind)
            return
        if not self.login(payload):
            return
        with STATE:
            LIVE.add(self)
        try:
            self.requests()
        finally:
            self.close()

    def requests(self):
        while True:
            kind, payload = self.read_message()
            if kind is None:
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

    def handshake(self):
        """TLS 1.2 as SQL Server does it inside TDS 7.x: every handshake record, the server's
        last flight included, travels in PRELOGIN packets; then TLS carries the TDS packets."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(CERTIFICATE)
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = context.wrap_bio(incoming, outgoing, server_side=True)
        while True:
            kind, payload = self.read_message()
            if kind != 0x12:
                log(event='no-handshake', kind=kind)  # the client gave up, or never began
                return False
            incoming.write(payload)
            try:
                tls.do_handshake()
                finished = True
            except ssl.SSLWantReadError:
                finished = False
            except ssl.SSLError as e:  # e.g. the client's alert: it does not trust us
                log(event='no-handshake', error=str(e))
                return False
            if outgoing.pending:
                self.send(outgoing.read(), kind=0x12)
            if finished:
                break
        log(event='tls', version=tls.version())
        self.tls, self.tls_in, self.tls_out = tls, incoming, outgoing
        return True

    def login(self, p):
        def text(at):
            offset, count = struct.unpack('<HH', p[at:at + 4])
            return p[offset:offset + 2 * count].decode('utf-16-le').rstrip('\0')
        integrated = bool(p[25] & 0x80)
        event = dict(event='login', tds=hex(struct.unpack('<I', p[4:8])[0]), user=text(40),
                     app=text(48), language=text(64), database=text(68), encrypted=bool(self.tls),
                     integrated=integrated)
        reply = b''
        if integrated:
            offset, size = struct.unpack('<HH', p[78:82])
            if size == 0xFFFF:
                (size,) = struct.unpack('<I', p[90:94])
            accepted = self.accept(p[offset:offset + size])
            if accepted is None:
                log(**event, principal=None)
                self.send(error(18452, 'Login failed. The login is from an untrusted domain and '
                                'cannot be used with Integrated authentication.', 14) +
                          done(error=True))
                return False
            principal, token = accepted
            event['principal'] = principal
            if token:
                reply += b'\xed' + struct.pack('<H', len(token)) + token
        log(**event)
        self.send(reply + env_text(1, 'QVT', 'master') + env_text(2, 'us_english') +
                  envchange(7, b'\x05' + LATIN_COLLATION, b'\x00') + env_text(4, '4096', '4096') +
                  self.loginack() + done())
        return True

    def accept(self, token):
        """The client's Kerberos token, accepted with the service keytab (KRB5_KTNAME):
        (client principal, the token that answers it), or None."""
        import gssapi  # only integrated logins need python3-gssapi
        try:
            context = gssapi.SecurityContext(creds=gssapi.Credentials(usage='accept'),
                                             usage='accept')
            answer = context.step(token)
            if not context.complete:
                raise gssapi.exceptions.GSSError(0, 0)  # one round is all Kerberos takes
            return str(context.initiator_name), answer
        except gssapi.exceptions.GSSError as e:
            log(event='gssapi-error', error=str(e))
            return None

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
        """Runs the words that move the model in their order, then answers the batch."""
        lower = ' '.join(sql.lower().split())
        result = None
        for m in WORDS.finditer(lower):
            word = m.group(0)
            if word.startswith('set implicit'):
                self.implicit = m.group(1) == 'on'
            elif m.group(2):
                if self.trancount:
                    self.end(m.group(2) == 'commit', 'statement')
            elif word.startswith('begin'):  # implicit mode opens its own one first
                self.trancount += 2 if self.implicit and not self.trancount else 1
                self.tran = self.tran or self.new_tran()
            elif m.group(3):
                if not self.trancount:
                    return self.no_begin(m.group(3))
                if m.group(3) == 'commit' and self.trancount > 1:
                    self.trancount -= 1
                    log(event='nested-commit', session=self.session(), left=self.trancount)
                else:
                    self.end(m.group(3) == 'commit', 'statement')
            elif word == 'sp_getapplock':
                result = self.getapplock(sql)
            elif word == 'sp_releaseapplock':
                self.releaseapplock(sql)
            elif word == 'applock_mode':
                return self.send(result_set([('mode', 32)], [[self.applock_mode(sql)]],
                                            LATIN_COLLATION))
            elif m.group(4):
                self.lock_timeout = int(m.group(4))
            elif m.group(5):
                self.isolation = m.group(5)
            elif m.group(6):  # the batch lock is asked for in exactly one transaction
                if self.trancount != 1:
                    return self.answer(sql, lower, values, int(m.group(6)) - self.trancount)
            elif self.implicit and not self.trancount and (
                    word != 'select' or READS_TABLE.match(lower, m.end())):
                self.tran, self.trancount = self.new_tran(), 1
        self.answer(sql, lower, values, result)

    def answer(self, sql, lower, values, result):
        if result is not None:
            self.send(lock_stream(result))
        elif 'from sys.databases' in lower:
            self.send(result_set([('snapshot_isolation_state', None)],
                                 [[int(SCRIPT == 'verify-snapshot')]], LATIN_COLLATION))
        elif SCRIPT.startswith('verify') and verify_answer(self, sql, lower, values):
            return
        elif 'dm_tran_locks' in lower:
            log(event='holder', session=self.session())
            columns = [('host_name', 30), ('login_name', 30), ('holder', 128)]
            self.send(result_set(columns, [HOLDER] if SCRIPT == 'busy' else [], LATIN_COLLATION))
        elif 'fcmsfl' in lower:
            # An int among the texts, as the ERP's tables have.
            rows = [['40', 7 + i, 'A%03d' % i, name] for i, name in enumerate(NAMES)]
            columns = [('FL000', 2), ('FL010', None), ('FL001', 20), ('FL002', 40)]
            self.send(result_set(columns, rows, BIG5_COLLATION))
        elif 'from fcmsdt' in lower:  # today's week in the calendar
            self.send(result_set([('DT002', None)], [[50]], LATIN_COLLATION))
        elif 'from fadmxy' in lower and lower.startswith('select'):
            log(event='check', session=self.session(), tran=self.tran, sql=sql)
            code = batch_code(lower)
            # 'blind': a check that misses the row, as a copy of the program without the lock
            # may (its insert meets the unique key instead).
            rows = [[code]] if code in self.visible('fadmxy') and SCRIPT != 'blind' else []
            self.send(result_set([('XY001', 10)], rows, LATIN_COLLATION))
        elif lower.startswith('insert'):
            self.insert(sql, lower, values)
        elif lower.startswith('delete from fadmx'):
            self.deletes.append(lower.split()[2])
            if not self.trancount:
                self.end(True, 'autocommit')
            self.send(done(0))
        else:
            self.send(done())

    def visible(self, table):
        """Batch codes of the table's rows as this session sees them."""
        with STATE:
            rows = [] if table in self.deletes else list(TABLES[table])
        return rows + [r['code'] for r in self.pending if r['table'] == table]

    def insert(self, sql, lower, values):
        global TRANS_FAILS
        if SCRIPT in ('rollback', 'taken') and TRANS_FAILS and self.tran:
            TRANS_FAILS -= 1
            ended = envchange(10, b'\x00', b'\x08' + struct.pack('<Q', self.tran))
            self.end(False, 'error 241')
            self.send(error(241, MESSAGE_241) + ended + done(error=True))
            return
        if ROWS_LOCKED[0] and ' from coptc ' in lower:
            return self.wait_for_rows()
        table, code = lower.split()[2].split('(')[0], batch_code(lower)
        if table == 'fadmxy' and code in self.visible(table):  # the unique key
            self.send(error(2627, "Violation of UNIQUE KEY constraint 'UQ_FADMXY_Batch'. Cannot "
                            "insert duplicate key in object 'dbo.FADMXY'.", 14) + done(error=True))
            return
        self.pending.append({'sql': sql, 'values': values, 'session': self.session(),
                             'tran': self.tran, 'table': table, 'code': code})
        if not self.trancount:
            self.end(True, 'autocommit')
        # SUM over the rows' NULL amounts warns, as it does under ANSI_WARNINGS.
        self.send((info('Warning: Null value is eliminated by an aggregate or other SET '
                        'operation.', 8153, 10) if table == 'fadmxx' else b'') + done(3))

    def wait_for_rows(self):
        """Error 1222 once the session's LOCK_TIMEOUT has run out; the transaction stays. -1,
        the server's default, waits forever: here 10 s, so that the case fails, not hangs."""
        timeout = self.lock_timeout
        log(event='lock-wait', session=self.session(), tran=self.tran, timeout=timeout)
        time.sleep(10 if timeout < 0 else timeout / 1000)
        ROWS_LOCKED[0] = False  # the other session commits once a reader gave up
        self.send(error(1222, MESSAGE_1222) + done(error=True))

    def end(self, commit, why):
        """Commit or rollback: the rows count only now; the transaction's locks go."""
        with STATE:
            if commit:
                for table in self.deletes:
                    TABLES[table] = []
                for row in self.pending:
                    TABLES[row['table']].append(row['code'])
            run_lock = any(r.startswith('salestotals run') and h == (self, 'Session')
                           for r, h in LOCKS.items())
            self.free('Transaction')
        log(event='commit' if commit else 'rollback', inserts=self.pending, deletes=self.deletes,
            why=why, run_lock=run_lock)
        self.pending, self.deletes, self.trancount, self.tran = [], [], 0, 0

    def free(self, owner=None):
        """Under STATE: the session's locks of that owner (all of them without one)."""
        for resource, holder in list(LOCKS.items()):
            if holder[0] is self and owner in (None, holder[1]):
                del LOCKS[resource]
        STATE.notify_all()

    def close(self):
        if self.trancount:
            self.end(False, 'disconnect')
        with STATE:
            self.free()
            LIVE.discard(self)
        log(event='session-end', session=self.session())

    def no_begin(self, verb):
        number = 3902 if verb == 'commit' else 3903
        self.send(error(number, 'The %s TRANSACTION request has no corresponding BEGIN '
                        'TRANSACTION.' % verb.upper()) + done(error=True))

    def session(self):
        """A number per connection, in the order of their first statements."""
        if not hasattr(self, 'number'):
            self.number = next(SESSIONS)
            if SCRIPT == 'taken' and self.number == 2:  # another run took it meanwhile
                with STATE:
                    LOCKS[RUN_LOCK] = (PHANTOM, 'Session')
        return self.number

    def getapplock(self, sql):
        """Granted at once, or when the holder lets go within the timeout; -1 when it does
        not; -999 for a transaction's lock outside a transaction."""
        resource, owner = argument(sql, 'Resource'), argument(sql, 'LockOwner') or 'Transaction'
        timeout = int(argument(sql, 'LockTimeout') or 0)
        log(event='applock', mode=argument(sql, 'LockMode'), timeout=timeout,
            session=self.session(), tran=self.tran, resource=resource, owner=owner,
            trancount=self.trancount)
        if owner == 'Transaction' and not self.trancount:
            return -999
        deadline, waited = time.monotonic() + timeout / 1000, False
        with STATE:
            while LOCKS.get(resource, (self,))[0] is not self:
                left = deadline - time.monotonic()
                if LOCKS[resource][0] is PHANTOM or left <= 0:
                    return -1
                STATE.wait(left)
                waited = True
            LOCKS[resource] = (self, owner)
        return 1 if waited else 0

    def releaseapplock(self, sql):
        resource = argument(sql, 'Resource')
        log(event='release', session=self.session(), tran=self.tran, resource=resource,
            owner=argument(sql, 'LockOwner'))
        with STATE:
            if LOCKS.get(resource, (None,))[0] is self:
                del LOCKS[resource]
                STATE.notify_all()

    def applock_mode(self, sql):
        found = re.search(r"applock_mode\s*\(\s*'public'\s*,\s*N?'([^']*)'\s*,\s*'(\w+)'", sql,
                          re.IGNORECASE)
        with STATE:
            holder = LOCKS.get(found.group(1)) if found else None
        mode = 'Exclusive' if holder == (self, found.group(2)) else 'NoLock'
        log(event='applock-mode', session=self.session(), resource=found and found.group(1),
            mode=mode)
        return mode

    def transaction(self, p):
        """TDS transaction-manager requests, as FreeTDS sends them."""
        request = struct.unpack('<H', p[:2])[0]
        out = b''
        if request == 5:
            out += self.begin()
        elif request in (7, 8):
            begin_again = p[3] if len(p) > 3 and p[2] == 0 else 0
            if not self.trancount:
                return self.no_begin('commit' if request == 7 else 'rollback')
            if request == 7 and SCRIPT == 'commit-info':
                out += info('Summary rows checked.')
            old = b'\x08' + struct.pack('<Q', self.tran)
            self.end(request == 7, 'request')
            out += envchange(9 if request == 7 else 10, b'\x00', old)
            if begin_again:
                out += self.begin()
        self.send(out + done())

    def new_tran(self):
        self.next_tran += 1
        return self.next_tran - 1

    def begin(self):
        self.tran, self.trancount = self.new_tran(), 1
        return envchange(8, b'\x08' + struct.pack('<Q', self.tran), b'\x00')


def argument(sql, name):
    found = re.search(r"@%s\s*=\s*N?'?([^',;]*)" % name, sql, re.IGNORECASE)
    return found.group(1) if found else None


def batch_code(lower):
    found = re.search(r"'([wmy]\d{3})'", lower)
    return found.group(1).upper() if found else None


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


# ---- Script 'verify': every batch recorded done for the period, one of them drifted ----
# The stored totals are decimal(38, 8), as create_summary_tables.sql makes them; the
# recomputation's are decimal(38, 2), as ROUND(..., 2) gives them. Values are mantissas.
VERIFY_STORED = [('S01', 10050000000), ('S02', 725000000)]
VERIFY_RECOMPUTED = [('S01', 10050), ('S02', 725)]
VERIFY_DRIFT = ('W101', [('S01', 10050), ('S02', 925)])  # S02: 9.25 now, 7.25 stored
# M101's first recomputation under READ COMMITTED counts a row that an ERP posting moved twice.
VERIFY_MOVED = {'M101': [('S01', 20100), ('S02', 725)]}
MESSAGE_3952 = "Snapshot isolation transaction failed accessing database 'QVT' because " \
    "snapshot isolation is not allowed in this database."


def verify_answer(session, sql, lower, values):
    """Verify's three reads of a batch; False for anything else. Script 'verify-snapshot':
    the database allows snapshot isolation, 'verify': it does not."""
    if not lower.startswith('select'):
        return False
    code = re.search(r"'([WMY][0-9]{3})'", sql)
    code = code.group(1) if code else ''
    event = dict(session=session.session(), tran=session.tran, code=code, values=values,
                 isolation=session.isolation)
    if session.isolation == 'snapshot' and SCRIPT == 'verify':
        session.send(error(3952, MESSAGE_3952) + done(error=True))
    elif 'from fadmxy' in lower:
        log(event='verify-completion', **event)
        session.send(result_set([('XY001', 10)], [[code]], LATIN_COLLATION))
    elif 'from fadmxx' in lower:
        log(event='verify-stored', **event)
        session.send(decimal_rows(VERIFY_STORED, 8))
    elif ' group by ' in lower:
        log(event='verify-recompute', sql=sql, **event)
        rows = VERIFY_DRIFT[1] if code == VERIFY_DRIFT[0] else VERIFY_RECOMPUTED
        if session.isolation != 'snapshot' and code in VERIFY_MOVED:
            rows = VERIFY_MOVED.pop(code)
        session.send(decimal_rows(rows, 2))
    else:
        return False
    return True


def decimal_rows(rows, scale):
    """Columns XX005, a varchar, and XX004, a decimal(38, scale) (DECIMALN: a sign byte and a
    16-byte little-endian magnitude)."""
    meta = b'\x81' + struct.pack('<H', 2)
    meta += struct.pack('<IH', 0, 0x0009) + b'\xa7' + struct.pack('<H', 20) + LATIN_COLLATION + \
        b_varchar('XX005')
    meta += struct.pack('<IH', 0, 0x0009) + b'\x6a' + bytes([17, 38, scale]) + b_varchar('XX004')
    data = b''
    for group, mantissa in rows:
        raw = group.encode('latin-1')
        data += b'\xd1' + struct.pack('<H', len(raw)) + raw
        data += bytes([17, 1 if mantissa >= 0 else 0]) + abs(mantissa).to_bytes(16, 'little')
    return meta + data + done(len(rows))


class Realm:
    """A Kerberos realm on 127.0.0.1, all of it in DIR: MIT's KDC on a free port with its own
    kdc.conf and krb5.conf (KRB5_KDC_PROFILE, KRB5_CONFIG), the client principal salestotals
    with DIR/client.keytab, the service principal with DIR/service.keytab. The KDC logs to
    DIR/kdc.log and ends with this process."""
    NAME = 'SALESTOTALS.TEST'

    def __init__(self, folder, service):
        self.folder = os.path.abspath(folder)
        port = free_port()
        path = lambda name: os.path.join(self.folder, name)
        with open(path('kdc.conf'), 'w') as f:
            f.write('[kdcdefaults]\n kdc_ports = %d\n kdc_tcp_ports = %d\n'
                    '[realms]\n %s = {\n  database_name = %s\n  key_stash_file = %s\n'
                    '  acl_file = %s\n }\n[logging]\n kdc = FILE:%s\n'
                    % (port, port, self.NAME, path('principal'), path('stash'), path('kadm5.acl'),
                       path('kdc.log')))
        with open(path('krb5.conf'), 'w') as f:
            f.write('[libdefaults]\n default_realm = %s\n dns_lookup_kdc = false\n'
                    ' dns_lookup_realm = false\n rdns = false\n udp_preference_limit = 1\n'
                    '[realms]\n %s = {\n  kdc = 127.0.0.1:%d\n }\n' % (self.NAME, self.NAME, port))
        os.environ.update(KRB5_CONFIG=path('krb5.conf'), KRB5_KDC_PROFILE=path('kdc.conf'),
                          KRB5_KTNAME=path('service.keytab'), KRB5RCACHETYPE='none')
        self.run('kdb5_util', 'create', '-s', '-r', self.NAME, '-P', 'stand-in master key')
        for principal, keytab in (('salestotals', 'client.keytab'), (service, 'service.keytab')):
            self.run('kadmin.local', '-r', self.NAME, '-q', 'addprinc -randkey ' + principal)
            self.run('kadmin.local', '-r', self.NAME, '-q',
                     'ktadd -k %s %s' % (path(keytab), principal))
        self.kdc = subprocess.Popen([tool('krb5kdc'), '-n', '-r', self.NAME],
                                    stdout=subprocess.DEVNULL, preexec_fn=end_with_parent)
        for _ in range(100):
            try:
                socket.create_connection(('127.0.0.1', port), 0.1).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError('the KDC did not start')

    @staticmethod
    def run(*command):
        subprocess.run([tool(command[0]), *command[1:]], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)


def certificates(folder, impostor):
    """DIR/ca.pem, a CA the client may be given, and a certificate for localhost: signed by
    that CA, or by itself for an impostor. Returns the server's PEM (certificate and key)."""
    path = lambda name: os.path.join(folder, name)
    openssl = lambda *a: subprocess.run([tool('openssl'), *a], check=True,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    key = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes', '-days', '2']
    openssl('req', '-x509', *key, '-subj', '/CN=Stand-in CA', '-keyout', path('ca.key'),
            '-out', path('ca.pem'))
    san = ['-subj', '/CN=localhost', '-addext', 'subjectAltName=DNS:localhost']
    if impostor:
        openssl('req', '-x509', *key, *san, '-keyout', path('server.key'), '-out', path('server.crt'))
    else:
        openssl('req', *key[:-2], *san, '-keyout', path('server.key'), '-out', path('server.csr'))
        openssl('x509', '-req', '-in', path('server.csr'), '-CA', path('ca.pem'), '-CAkey',
                path('ca.key'), '-CAcreateserial', '-days', '2', '-copy_extensions', 'copy',
                '-out', path('server.crt'))
    with open(path('server.pem'), 'w') as out:
        for name in ('server.crt', 'server.key'):
            with open(path(name)) as f:
                out.write(f.read())
    return path('server.pem')


def tool(name):
    found = shutil.which(name, path=os.environ.get('PATH', '') + ':/usr/sbin:/sbin')
    if not found:
        raise RuntimeError(name + ' is not installed')
    return found


def end_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def free_port():
    """A port free for both TCP and UDP, as the KDC listens on both."""
    while True:
        with socket.socket() as tcp, socket.socket(type=socket.SOCK_DGRAM) as udp:
            tcp.bind(('127.0.0.1', 0))
            try:
                udp.bind(('127.0.0.1', tcp.getsockname()[1]))
            except OSError:
                continue
            return tcp.getsockname()[1]


def main():
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', OPTIONS.port))
    server.listen(8)
    port = server.getsockname()[1]
    if OPTIONS.tls:
        global CERTIFICATE
        CERTIFICATE = certificates(OPTIONS.tls, OPTIONS.impostor)
    if OPTIONS.realm:
        realm = Realm(OPTIONS.realm, OPTIONS.service or 'MSSQLSvc/localhost:%d' % port)
    threading.Thread(target=accept, args=(server,), daemon=True).start()
    print(port, flush=True)
    for line in sys.stdin:  # until the test ends, or drops us
        if line.strip() == 'drop':  # the network breaks under every session
            with STATE:
                for session in LIVE:
                    session.sock.shutdown(socket.SHUT_RDWR)
    if OPTIONS.realm:
        realm.kdc.terminate()
        realm.kdc.wait()


def accept(server):
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
