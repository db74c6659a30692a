"""A real SMTP server on 127.0.0.1 for one message.

Prints {"port": N} once it listens, then, when a message has arrived, the
message as the standard library's e-mail parser reads it, as one JSON line.
"""
import asyncio
import base64
import email
import email.policy
import json

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, received):
        self.received = received

    async def handle_DATA(self, server, session, envelope):
        raw = envelope.content
        message = email.message_from_bytes(raw, policy=email.policy.default)
        date = message["Date"]
        print(json.dumps({
            "headers": [[k, v] for k, v in message.raw_items()],
            "date": date.datetime.isoformat() if date and date.datetime else "",
            "messageId": str(message["Message-ID"] or ""),
            "contentType": message.get_content_type(),
            "charset": message.get_content_charset() or "",
            "defects": [type(d).__name__ for d in message.defects],
            "body": base64.b64encode(message.get_payload(decode=True)).decode(),
            "longestLine": max(len(line) for line in raw.split(b"\r\n")),
        }), flush=True)
        if not self.received.done():
            self.received.set_result(None)
        return "250 OK"


async def main():
    loop = asyncio.get_running_loop()
    received = loop.create_future()
    server = await loop.create_server(
        lambda: SMTP(Sink(received), hostname="sink.test"), "127.0.0.1", 0)
    print(json.dumps({"port": server.sockets[0].getsockname()[1]}), flush=True)
    await asyncio.wait_for(received, 120)
    await asyncio.sleep(1)  # the reply to QUIT
    server.close()


asyncio.run(main())
